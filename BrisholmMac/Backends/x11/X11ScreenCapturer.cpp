#include "Backends/x11/X11ScreenCapturer.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

#include "Backends/x11/PointerMotion.hpp"
#include "Backends/x11/RandrMonitors.hpp"
#include "Backends/x11/X11Connection.hpp"
#include "Capture/DamageTracker.hpp"
#include "Capture/FrameAssembly.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::x11 {

namespace {

// Each fallback is worth one line per process, not one per stream.
void logOnce(std::atomic<bool>& logged, const char* message) {
    if (!logged.exchange(true)) {
        diagnosticLog().warn("capture: {}", message);
    }
}
std::atomic<bool> loggedNoShm{false};
std::atomic<bool> loggedNoDamage{false};
std::atomic<bool> loggedNoXfixes{false};

// A System V shared-memory segment mapped into this process. It is marked for removal as soon as
// the X server has attached it too, so it cannot outlive both even after a crash.
class SharedMemory {
public:
    static std::unique_ptr<SharedMemory> make(std::size_t size) {
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) {
            return nullptr;
        }
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {  // NOLINT(performance-no-int-to-ptr): shmat's failure value
            shmctl(id, IPC_RMID, nullptr);
            return nullptr;
        }
        return std::unique_ptr<SharedMemory>(new SharedMemory(id, static_cast<std::uint8_t*>(address), size));
    }

    ~SharedMemory() {
        shmdt(address_);
        if (!removed_) {
            shmctl(id_, IPC_RMID, nullptr);
        }
    }
    SharedMemory(const SharedMemory&) = delete;
    SharedMemory& operator=(const SharedMemory&) = delete;

    // Both sides have attached: the segment goes once both detach.
    void markForRemoval() {
        shmctl(id_, IPC_RMID, nullptr);
        removed_ = true;
    }

    [[nodiscard]] int id() const { return id_; }
    [[nodiscard]] std::uint8_t* bytes() const { return address_; }
    [[nodiscard]] std::size_t size() const { return size_; }

private:
    SharedMemory(int id, std::uint8_t* address, std::size_t size) : id_(id), address_(address), size_(size) {}

    int id_;
    std::uint8_t* address_;
    std::size_t size_;
    bool removed_ = false;
};

// A shared-memory segment the X server writes into, and its name on this connection.
struct GrabSegment {
    xcb_shm_seg_t segment = 0;
    std::unique_ptr<SharedMemory> memory;
};

// A frame buffer: frames are made in place in it and lent out, as pictures over its memory, until
// the encoder has converted them and the streamer has let go of its last frame. With MIT-SHM it is
// a segment of its own, so that the X server writes a wide change straight into it and the encoder
// reads the pixels where the server put them; without, plain memory filled from GetImage replies.
// The X server writes into a buffer only while a grab fills it, and a grab only fills a buffer
// that is lent to nobody.
struct FrameBuffer {
    std::optional<GrabSegment> shared;
    std::unique_ptr<std::uint8_t[]> plain;
    std::uint8_t* bytes = nullptr;
};

// Frames are made in place in these buffers: one being brought up to date, one waiting for or in
// the encoder, one kept as the last frame (which may be the one being encoded).
constexpr std::size_t frameBuffers = 3;

// How often every buffer is fetched whole even though damage said nothing: a cheap guard against
// anything drawn without damage being reported.
constexpr auto fullRefreshInterval = std::chrono::seconds(4);

// How far from the watched area a pointer still matters: its image can reach in from outside.
constexpr double cursorReach = 64;

// How often the monitor layout is read again even without a RandR event (not every layout change
// sends one), at the looks of a streamer that looks this often.
constexpr auto monitorCheckInterval = std::chrono::milliseconds(250);

// How long a streamer may rest on the connection's news at most: for a layout change that sends
// no event, and a pointer moved without device motion (a warp by an application).
constexpr auto restingLook = std::chrono::seconds(1);

// What a fetch wrote into a buffer, or the failed grab's result.
class Fetched {
public:
    explicit Fetched(PixelBox written) : written_(written) {}
    explicit Fetched(CaptureResult failure) : failure_(std::move(failure)) {}
    explicit operator bool() const { return !failure_; }
    const PixelBox* operator->() const { return &written_; }
    [[nodiscard]] CaptureResult error() const { return *failure_; }

private:
    PixelBox written_;
    std::optional<CaptureResult> failure_;
};

class X11ScreenCapturer final : public ScreenCapturer {
public:
    explicit X11ScreenCapturer(std::shared_ptr<X11Connection> connection)
        : connection_(std::move(connection)),
          c_(connection_->get()),
          root_(connection_->root()),
          tracker_(frameBuffers) {
        useShm_ = queryShm(*connection_);
        if (!useShm_) {
            logOnce(loggedNoShm, "MIT-SHM is missing: grabbing with plain GetImage, one copy more per frame");
        }
        damageEvent_ = queryDamage(*connection_);
        if (!damageEvent_) {
            logOnce(loggedNoDamage, "DAMAGE is missing: every tick grabs a full frame");
        } else {
            subscriptions_.push_back(connection_->subscribe(
                static_cast<std::uint8_t>(*damageEvent_ + XCB_DAMAGE_NOTIFY), [this](const xcb_generic_event_t& event) {
                    damaged(reinterpret_cast<const xcb_damage_notify_event_t&>(event));
                }));
            damage_ = xcb_generate_id(c_);
            xcb_damage_create(c_, damage_, root_, XCB_DAMAGE_REPORT_LEVEL_DELTA_RECTANGLES);
        }
        cursorEvent_ = queryXfixes(*connection_);
        if (!cursorEvent_) {
            logOnce(loggedNoXfixes, "XFIXES 4 is missing: frames carry no pointer");
        } else {
            subscriptions_.push_back(
                connection_->subscribe(static_cast<std::uint8_t>(*cursorEvent_ + XCB_XFIXES_CURSOR_NOTIFY),
                                       [this](const xcb_generic_event_t&) { news_.cursor = true; }));
            xcb_xfixes_select_cursor_input(c_, root_, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
        }
        watchPointerMotion();
        if (const auto randrEvent = connection_->extension(xcb_randr_id)) {
            for (const int kind : {int{XCB_RANDR_SCREEN_CHANGE_NOTIFY}, int{XCB_RANDR_NOTIFY}}) {
                subscriptions_.push_back(
                    connection_->subscribe(static_cast<std::uint8_t>(*randrEvent + kind),
                                           [this](const xcb_generic_event_t&) { news_.monitors = true; }));
            }
            xcb_randr_select_input(c_, root_,
                                   XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                       XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
        }
        xcb_flush(c_);
    }

    ~X11ScreenCapturer() override {
        releaseBuffers();
        if (damageEvent_ && !broken()) {
            xcb_damage_destroy(c_, damage_);
            xcb_flush(c_);
        }
    }

    std::vector<MonitorFacts> monitors() override {
        if (broken()) {
            return {};
        }
        return readMonitors(c_, root_, false).value_or(std::vector<MonitorFacts>{});
    }

    CaptureStatus watch(const Rect& area, StreamSize size) override {
        if (broken()) {
            return CaptureStatus::permanentError;
        }
        if (area.isEmpty() || size.width < 1 || size.height < 1) {
            return CaptureStatus::temporaryError;
        }
        area_ = area;
        size_ = size;
        wholeAreaChanged_ = true;
        releaseBuffers();
        tracker_.reset(wholeBox());
        lastFrame_ = 0;
        return CaptureStatus::ok;
    }

    ScreenChanges changes() override {
        if (broken()) {
            return failed("the connection to the X display broke");
        }
        connection_->dispatchPending();
        const News news = std::exchange(news_, {});
        ScreenChanges changes;
        changes.picture = news.picture;
        changes.monitors = news.monitors;
        const bool cursorImageChanged = news.cursor;
        if (news.damaged) {
            // Repairs everything seen so far; drawing from now on is reported afresh.
            xcb_damage_subtract(c_, damage_, XCB_NONE, XCB_NONE);
            xcb_flush(c_);
        }
        if (!damageEvent_ || std::exchange(wholeAreaChanged_, false)) {
            changes.picture = true;
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - monitorsChecked_ >= monitorCheckInterval) {
            monitorsChecked_ = now;
            changes.monitors = true;
        }
        if (!damageEvent_ || now - refreshedWhole_ >= fullRefreshInterval) {
            refreshedWhole_ = now;
            tracker_.reset(wholeBox());
        }
        if (cursorEvent_) {
            XcbReply<xcb_query_pointer_reply_t> pointer(
                xcb_query_pointer_reply(c_, xcb_query_pointer(c_, root_), nullptr));
            if (!pointer) {
                return broken() ? failed("the connection to the X display broke") : changes;
            }
            const Point position{static_cast<double>(pointer->root_x), static_cast<double>(pointer->root_y)};
            const bool moved = !pointer_ || *pointer_ != position;
            const bool near = nearArea(position) || (pointer_ && nearArea(*pointer_));
            changes.cursor = near && (moved || cursorImageChanged);
            pointer_ = position;
            cursorStale_ = cursorStale_ || cursorImageChanged;
        }
        return changes;
    }

    // The connection's descriptor, once the server reports pointer motion as well as drawing,
    // the pointer's image and the layout: without raw motion a moved pointer would go unseen.
    std::optional<NewsSource> news() override {
        if (!damageEvent_ || !watchesMotion_ || broken()) {
            return std::nullopt;
        }
        return NewsSource{xcb_get_file_descriptor(c_), restingLook};
    }

    bool newsPending() override {
        if (broken()) {
            return true;  // changes() says so
        }
        // Events may wait inside xcb, read with the replies of this look: the socket is quiet
        // about those.
        connection_->dispatchPending();
        return news_.damaged || news_.cursor || news_.monitors || news_.pointer;
    }

    CaptureResult grab() override {
        if (broken()) {
            return {CaptureStatus::permanentError, nullptr, "the connection to the X display broke"};
        }
        if (area_.isEmpty()) {
            return {CaptureStatus::temporaryError, nullptr, "no area to capture"};
        }
        const auto index = freeFrame();
        if (!index) {
            return {CaptureStatus::temporaryError, nullptr, "every frame buffer is still in use"};
        }
        const auto buffer = frames_[*index];
        std::uint8_t* const pixels = buffer->bytes;
        const auto width = static_cast<std::int32_t>(area_.width);
        const auto height = static_cast<std::int32_t>(area_.height);
        const auto stride = static_cast<std::size_t>(width) * 4;
        const CursorImage* cursor = currentCursor();
        const std::int32_t cursorX = pointer_ ? static_cast<std::int32_t>(pointer_->x - area_.x) : 0;
        const std::int32_t cursorY = pointer_ ? static_cast<std::int32_t>(pointer_->y - area_.y) : 0;
        const bool inPlace = size_.width == width && size_.height == height;
        // At the stream size the pointer is drawn into the buffer itself; scaled, it goes into the
        // scaled copy and the buffer stays a clean image of the screen.
        PointerMark pointer;
        if (cursor != nullptr && inPlace) {
            pointer = {{cursorX - cursor->hotX, cursorY - cursor->hotY, cursor->width, cursor->height}, cursor->serial};
        }
        const auto plan = tracker_.plan(*index, pointer);
        bool drawPointer = plan.drawPointer;
        if (!plan.fetch.isEmpty()) {
            auto fetched = fetch(plan.fetch, pointer, *buffer, stride);
            if (!fetched) {
                return fetched.error();
            }
            // Whole rows fetched may have wiped the pointer beside the change: it goes back on.
            drawPointer = drawPointer || (pointer.image != 0 && !fetched->intersected(pointer.box).isEmpty());
        }
        tracker_.refreshed(*index, pointer);
        if (!inPlace) {
            lastFrame_ = 0;
            const ScreenPixels screen{pixels, stride, width, height};
            return frame(assembleFrame(screen, size_, cursor, cursorX, cursorY));
        }
        if (drawPointer) {
            drawCursor({pixels, stride, width, height}, *cursor, cursorX, cursorY);
        }
        // The frame is the buffer itself, and it says where it differs from the frame before, so
        // the encoder converts and analyses only that part.
        const auto changed = tracker_.sinceLastFrame(pointer);
        tracker_.handedOut(pointer);
        std::optional<PixelBuffer::Change> change;
        if (lastFrame_ != 0) {
            change = PixelBuffer::Change{lastFrame_, changed.x, changed.y, changed.width, changed.height};
        }
        auto result = frame(PixelBuffer::adopt(width, height, stride, pixels, buffer, change));
        lastFrame_ = result.frame ? result.frame->serial() : 0;
        return result;
    }

private:
    // What the events read since the last look said.
    struct News {
        bool damaged = false;  // something was drawn somewhere
        bool picture = false;  // something was drawn in the watched area
        bool cursor = false;   // the pointer's image changed
        bool monitors = false;
        bool pointer = false;  // a pointing device moved
    };

    // Raw motion of every pointing device, so that a resting streamer wakes when the pointer moves;
    // its place is still read at each look.
    void watchPointerMotion() {
        if (auto subscription = x11::watchPointerMotion(*connection_, [this] { news_.pointer = true; })) {
            subscriptions_.push_back(std::move(*subscription));
            watchesMotion_ = true;
        }
    }

    void damaged(const xcb_damage_notify_event_t& notify) {
        news_.damaged = true;
        const Rect drawn{static_cast<double>(notify.area.x), static_cast<double>(notify.area.y),
                         static_cast<double>(notify.area.width), static_cast<double>(notify.area.height)};
        const auto inside = drawn.intersection(area_);
        if (!inside.isEmpty()) {
            news_.picture = true;
            tracker_.damaged({static_cast<std::int32_t>(inside.x - area_.x),
                              static_cast<std::int32_t>(inside.y - area_.y), static_cast<std::int32_t>(inside.width),
                              static_cast<std::int32_t>(inside.height)});
        }
    }

    static bool queryShm(const X11Connection& connection) {
        if (!connection.extension(xcb_shm_id)) {
            return false;
        }
        xcb_connection_t* const c = connection.get();
        XcbReply<xcb_shm_query_version_reply_t> version(
            xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        return version != nullptr;
    }

    static std::optional<std::uint8_t> queryDamage(const X11Connection& connection) {
        const auto firstEvent = connection.extension(xcb_damage_id);
        if (!firstEvent) {
            return std::nullopt;
        }
        // The server refuses damage requests from a client that has not asked for the version.
        xcb_connection_t* const c = connection.get();
        XcbReply<xcb_damage_query_version_reply_t> version(
            xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
        if (!version) {
            return std::nullopt;
        }
        return firstEvent;
    }

    static std::optional<std::uint8_t> queryXfixes(const X11Connection& connection) {
        const auto firstEvent = connection.extension(xcb_xfixes_id);
        if (!firstEvent) {
            return std::nullopt;
        }
        xcb_connection_t* const c = connection.get();
        XcbReply<xcb_xfixes_query_version_reply_t> version(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        if (!version || version->major_version < 4) {
            return std::nullopt;
        }
        return firstEvent;
    }

    [[nodiscard]] bool broken() const { return connection_->broken(); }

    [[nodiscard]] PixelBox wholeBox() const {
        return {0, 0, static_cast<std::int32_t>(area_.width), static_cast<std::int32_t>(area_.height)};
    }

    // A frame buffer no frame holds, made when fewer than frameBuffers exist.
    std::optional<std::size_t> freeFrame() {
        for (std::size_t index = 0; index < frames_.size(); ++index) {
            // Only this queue lends buffers out, so a count of one cannot grow behind our back.
            if (frames_[index].use_count() == 1) {
                // The last picture over it may have gone on the encoding queue: the fence pairs
                // with the release of that reference, so the encoder's reads come before our writes.
                std::atomic_thread_fence(std::memory_order_acquire);
                return index;
            }
        }
        if (frames_.size() >= frameBuffers) {
            return std::nullopt;
        }
        const auto bytes = static_cast<std::size_t>(area_.width) * static_cast<std::size_t>(area_.height) * 4;
        auto buffer = std::make_shared<FrameBuffer>();
        if (useShm_) {
            buffer->shared = attachSegment(bytes);
        }
        if (buffer->shared) {
            buffer->bytes = buffer->shared->memory->bytes();
        } else {
            buffer->plain.reset(new std::uint8_t[bytes]);
            buffer->bytes = buffer->plain.get();
        }
        frames_.push_back(std::move(buffer));
        return frames_.size() - 1;
    }

    // Brings box of the area (area pixels) up to date in buffer, rows stride bytes apart, and
    // returns the part of the buffer that was written (at least box). A change at least half as
    // wide as the area is fetched as whole rows straight into the buffer's own segment: the X
    // server's extra copy of the rows' rest costs less than copying the change once more, and the
    // rows must also cover the pointer when they reach it (it is drawn again over them). A
    // narrower one goes through the grab segment (or a plain GetImage) and is copied into place.
    // A result on failure.
    Fetched fetch(const PixelBox& box, const PointerMark& pointer, FrameBuffer& buffer, std::size_t stride) {
        const auto areaWidth = static_cast<std::int32_t>(area_.width);
        if (buffer.shared && box.width * 2 >= areaWidth) {
            PixelBox rows{0, box.y, areaWidth, box.height};
            if (pointer.image != 0 && !rows.intersected(pointer.box).isEmpty()) {
                const auto withPointer = rows.united({0, pointer.box.y, areaWidth, pointer.box.height});
                rows = withPointer.intersected(wholeBox());
            }
            if (auto failed = shmFetch(rows, *buffer.shared, static_cast<std::uint32_t>(rows.y) * stride)) {
                return Fetched(std::move(*failed));
            }
            return Fetched(rows);
        }
        const std::size_t rowBytes = static_cast<std::size_t>(box.width) * 4;
        const std::uint8_t* source = nullptr;
        XcbReply<xcb_get_image_reply_t> plain;
        if (const auto* segment = sharedSegment()) {
            if (auto failed = shmFetch(box, *segment, 0)) {
                return Fetched(std::move(*failed));
            }
            source = segment->memory->bytes();
        } else {
            xcb_generic_error_t* rawError = nullptr;
            plain.reset(xcb_get_image_reply(
                c_,
                xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, static_cast<std::int16_t>(area_.x + box.x),
                              static_cast<std::int16_t>(area_.y + box.y), static_cast<std::uint16_t>(box.width),
                              static_cast<std::uint16_t>(box.height), ~0u),
                &rawError));
            XcbError error(rawError);
            if (!plain) {
                return Fetched(failedGrab(error.get()));
            }
            if (static_cast<std::size_t>(xcb_get_image_data_length(plain.get())) < rowBytes * box.height ||
                (plain->depth != 24 && plain->depth != 32)) {
                return Fetched(notTrueColour());
            }
            source = xcb_get_image_data(plain.get());
        }
        for (std::int32_t row = 0; row < box.height; ++row) {
            std::memcpy(
                buffer.bytes + static_cast<std::size_t>(box.y + row) * stride + static_cast<std::size_t>(box.x) * 4,
                source + static_cast<std::size_t>(row) * rowBytes, rowBytes);
        }
        return Fetched(box);
    }

    // Has the X server write box of the area into segment at offset, rows box.width x 4 bytes
    // apart. A result on failure.
    std::optional<CaptureResult> shmFetch(const PixelBox& box, const GrabSegment& segment, std::uint32_t offset) {
        xcb_generic_error_t* rawError = nullptr;
        XcbReply<xcb_shm_get_image_reply_t> image(xcb_shm_get_image_reply(
            c_,
            xcb_shm_get_image(c_, root_, static_cast<std::int16_t>(area_.x + box.x),
                              static_cast<std::int16_t>(area_.y + box.y), static_cast<std::uint16_t>(box.width),
                              static_cast<std::uint16_t>(box.height), ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment.segment,
                              offset),
            &rawError));
        XcbError error(rawError);
        if (!image) {
            return failedGrab(error.get());
        }
        if (image->size < static_cast<std::size_t>(box.width) * 4 * static_cast<std::size_t>(box.height) ||
            (image->depth != 24 && image->depth != 32)) {
            return notTrueColour();
        }
        return std::nullopt;
    }

    static CaptureResult notTrueColour() {
        return {CaptureStatus::temporaryError, nullptr, "the screen is not 32-bit true colour"};
    }

    // The segment narrow changes go through, made at the first; null when MIT-SHM cannot be used.
    const GrabSegment* sharedSegment() {
        if (!useShm_) {
            return nullptr;
        }
        if (!segment_) {
            segment_ =
                attachSegment(static_cast<std::size_t>(area_.width) * static_cast<std::size_t>(area_.height) * 4);
        }
        return segment_ ? &*segment_ : nullptr;
    }

    // A new segment of size bytes, attached by the X server; none (and MIT-SHM given up, logged
    // once) when the server cannot attach our memory.
    std::optional<GrabSegment> attachSegment(std::size_t size) {
        GrabSegment segment{xcb_generate_id(c_), SharedMemory::make(size)};
        XcbError error;
        if (segment.memory) {
            error.reset(xcb_request_check(
                c_, xcb_shm_attach_checked(c_, segment.segment, static_cast<std::uint32_t>(segment.memory->id()), 0)));
        }
        if (!segment.memory || error) {
            useShm_ = false;
            logOnce(loggedNoShm, "the X server cannot attach our shared memory: grabbing with plain GetImage");
            return std::nullopt;
        }
        segment.memory->markForRemoval();
        return segment;
    }

    // The X server lets go of every segment; buffers still lent out stay mapped until their last
    // picture goes, and are never written again.
    void releaseBuffers() {
        if (!broken()) {
            if (segment_) {
                xcb_shm_detach(c_, segment_->segment);
            }
            for (const auto& buffer : frames_) {
                if (buffer->shared) {
                    xcb_shm_detach(c_, buffer->shared->segment);
                }
            }
            xcb_flush(c_);
        }
        segment_.reset();
        frames_.clear();
    }

    static ScreenChanges failed(std::string reason) {
        ScreenChanges changes;
        changes.status = CaptureStatus::permanentError;
        changes.reason = std::move(reason);
        return changes;
    }

    CaptureResult failedGrab(const xcb_generic_error_t* error) const {
        if (broken()) {
            return {CaptureStatus::permanentError, nullptr, "the connection to the X display broke"};
        }
        // Most often the area no longer lies on the screen (a monitor or the screen was just
        // resized); the next look at the monitors sorts it out.
        return {CaptureStatus::temporaryError, nullptr, error ? X11Connection::describe(*error) : "GetImage failed"};
    }

    static CaptureResult frame(std::shared_ptr<const PixelBuffer> picture) {
        if (!picture) {
            return {CaptureStatus::temporaryError, nullptr, "the frame could not be assembled"};
        }
        return {CaptureStatus::ok, std::move(picture), {}};
    }

    [[nodiscard]] bool nearArea(Point point) const {
        const Rect reach{area_.x - cursorReach, area_.y - cursorReach, area_.width + 2 * cursorReach,
                         area_.height + 2 * cursorReach};
        return reach.contains(point);
    }

    // The pointer's image, fetched again only after the server said it changed.
    const CursorImage* currentCursor() {
        if (!cursorEvent_) {
            return nullptr;
        }
        if (cursorStale_ || !cursor_) {
            cursorStale_ = false;
            XcbReply<xcb_xfixes_get_cursor_image_reply_t> image(
                xcb_xfixes_get_cursor_image_reply(c_, xcb_xfixes_get_cursor_image(c_), nullptr));
            if (!image) {
                cursor_.reset();
                return nullptr;
            }
            CursorImage cursor{image->width, image->height, image->xhot, image->yhot, {}, image->cursor_serial};
            const auto* pixels = xcb_xfixes_get_cursor_image_cursor_image(image.get());
            const auto count = static_cast<std::size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(image.get()));
            cursor.pixels.assign(pixels, pixels + count);
            cursor_ = std::move(cursor);
        }
        return &*cursor_;
    }

    std::shared_ptr<X11Connection> connection_;
    xcb_connection_t* c_;
    xcb_window_t root_;
    std::vector<X11Connection::Subscription> subscriptions_;
    News news_;
    bool useShm_ = false;
    std::optional<std::uint8_t> damageEvent_;
    std::optional<std::uint8_t> cursorEvent_;
    bool watchesMotion_ = false;  // the server reports raw pointer motion
    xcb_damage_damage_t damage_ = 0;

    Rect area_;
    StreamSize size_;
    std::optional<GrabSegment> segment_;
    std::vector<std::shared_ptr<FrameBuffer>> frames_;
    DamageTracker tracker_;
    std::uint64_t lastFrame_ = 0;  // serial of the last frame made in place; 0 for none
    bool wholeAreaChanged_ = true;
    std::chrono::steady_clock::time_point monitorsChecked_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point refreshedWhole_ = std::chrono::steady_clock::now();
    std::optional<Point> pointer_;
    std::optional<CursorImage> cursor_;
    bool cursorStale_ = true;
};

}  // namespace

std::unique_ptr<ScreenCapturer> makeX11Capturer(const std::optional<std::string>& displayName) {
    auto connection = X11Connection::open("capture", displayName);
    if (!connection || !speaksMonitors(*connection)) {
        return nullptr;
    }
    return std::make_unique<X11ScreenCapturer>(std::move(connection));
}

}  // namespace vantrel::x11
