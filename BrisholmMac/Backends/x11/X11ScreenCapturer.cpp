#include "Backends/x11/X11ScreenCapturer.hpp"

#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <optional>
#include <utility>

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

// The segment the X server writes the changed part of the area into, and its name on this
// connection.
struct GrabSegment {
    xcb_shm_seg_t segment = 0;
    std::unique_ptr<SharedMemory> memory;
};

// Frames are made in place in these buffers and lent out until the encoder and the streamer's
// last frame are done with them: one being brought up to date, one being encoded, one kept as the
// last frame.
constexpr std::size_t frameBuffers = 3;

// How often every buffer is fetched whole even though damage said nothing: a cheap guard against
// anything drawn without damage being reported (every this many looks, about every 4 s).
constexpr int fullRefreshTicks = 240;

// How far from the watched area a pointer still matters: its image can reach in from outside.
constexpr double cursorReach = 64;

// How often the monitor layout is read again even without a RandR event (not every layout change
// sends one): every this many ticks, about four times a second at 60 per second.
constexpr int monitorCheckTicks = 15;

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
        frames_.clear();
        tracker_.reset(wholeBox());
        lastFrame_ = 0;
        return CaptureStatus::ok;
    }

    ScreenChanges changes() override {
        if (broken()) {
            return failed("the connection to the X display broke");
        }
        news_ = {};
        connection_->dispatchPending();
        ScreenChanges changes;
        changes.picture = news_.picture;
        changes.monitors = news_.monitors;
        const bool cursorImageChanged = news_.cursor;
        if (news_.damaged) {
            // Repairs everything seen so far; drawing from now on is reported afresh.
            xcb_damage_subtract(c_, damage_, XCB_NONE, XCB_NONE);
            xcb_flush(c_);
        }
        if (!damageEvent_ || std::exchange(wholeAreaChanged_, false)) {
            changes.picture = true;
        }
        if (++ticks_ % monitorCheckTicks == 0) {
            changes.monitors = true;
        }
        if (!damageEvent_ || ticks_ % fullRefreshTicks == 0) {
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
        auto& pixels = frames_[*index];
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
        if (!plan.fetch.isEmpty()) {
            if (auto failed = fetch(plan.fetch, pixels.get(), stride)) {
                return *failed;
            }
        }
        tracker_.refreshed(*index, pointer);
        if (!inPlace) {
            lastFrame_ = 0;
            const ScreenPixels screen{pixels.get(), stride, width, height};
            return frame(assembleFrame(screen, size_, cursor, cursorX, cursorY));
        }
        if (plan.drawPointer) {
            drawCursor({pixels.get(), stride, width, height}, *cursor, cursorX, cursorY);
        }
        // The frame is the buffer itself, and it says where it differs from the frame before, so
        // the encoder converts and analyses only that part.
        const auto changed = tracker_.sinceLastFrame(pointer);
        tracker_.handedOut(pointer);
        std::optional<PixelBuffer::Change> change;
        if (lastFrame_ != 0) {
            change = PixelBuffer::Change{lastFrame_, changed.x, changed.y, changed.width, changed.height};
        }
        auto result = frame(PixelBuffer::adopt(width, height, stride, pixels.get(), pixels, change));
        lastFrame_ = result.frame ? result.frame->serial() : 0;
        return result;
    }

private:
    // What the events read at one look said.
    struct News {
        bool damaged = false;  // something was drawn somewhere
        bool picture = false;  // something was drawn in the watched area
        bool cursor = false;   // the pointer's image changed
        bool monitors = false;
    };

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
                return index;
            }
        }
        if (frames_.size() >= frameBuffers) {
            return std::nullopt;
        }
        const auto bytes = static_cast<std::size_t>(area_.width) * static_cast<std::size_t>(area_.height) * 4;
        frames_.push_back(std::shared_ptr<std::uint8_t[]>(new std::uint8_t[bytes]));
        return frames_.size() - 1;
    }

    // Copies box of the area (area pixels) from the screen into target, rows stride bytes apart:
    // through the shared-memory segment, or a plain GetImage without one. A result on failure.
    std::optional<CaptureResult> fetch(const PixelBox& box, std::uint8_t* target, std::size_t stride) {
        const auto x = static_cast<std::int16_t>(area_.x + box.x);
        const auto y = static_cast<std::int16_t>(area_.y + box.y);
        const auto width = static_cast<std::uint16_t>(box.width);
        const auto height = static_cast<std::uint16_t>(box.height);
        const std::size_t rowBytes = static_cast<std::size_t>(box.width) * 4;
        const std::uint8_t* source = nullptr;
        xcb_generic_error_t* rawError = nullptr;
        XcbReply<xcb_get_image_reply_t> plain;
        if (const auto* segment = sharedSegment()) {
            XcbReply<xcb_shm_get_image_reply_t> image(xcb_shm_get_image_reply(
                c_,
                xcb_shm_get_image(c_, root_, x, y, width, height, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, segment->segment, 0),
                &rawError));
            XcbError error(rawError);
            if (!image) {
                return failedGrab(error.get());
            }
            if (image->size < rowBytes * height || (image->depth != 24 && image->depth != 32)) {
                return CaptureResult{CaptureStatus::temporaryError, nullptr, "the screen is not 32-bit true colour"};
            }
            source = segment->memory->bytes();
        } else {
            plain.reset(xcb_get_image_reply(
                c_, xcb_get_image(c_, XCB_IMAGE_FORMAT_Z_PIXMAP, root_, x, y, width, height, ~0u), &rawError));
            XcbError error(rawError);
            if (!plain) {
                return failedGrab(error.get());
            }
            if (static_cast<std::size_t>(xcb_get_image_data_length(plain.get())) < rowBytes * height ||
                (plain->depth != 24 && plain->depth != 32)) {
                return CaptureResult{CaptureStatus::temporaryError, nullptr, "the screen is not 32-bit true colour"};
            }
            source = xcb_get_image_data(plain.get());
        }
        for (std::int32_t row = 0; row < box.height; ++row) {
            std::memcpy(target + static_cast<std::size_t>(box.y + row) * stride + static_cast<std::size_t>(box.x) * 4,
                        source + static_cast<std::size_t>(row) * rowBytes, rowBytes);
        }
        return std::nullopt;
    }

    // The segment grabs go through, made at the first grab; null when MIT-SHM cannot be used.
    const GrabSegment* sharedSegment() {
        if (!useShm_) {
            return nullptr;
        }
        if (segment_) {
            return &*segment_;
        }
        const auto bytes = static_cast<std::size_t>(area_.width) * static_cast<std::size_t>(area_.height) * 4;
        GrabSegment segment{xcb_generate_id(c_), SharedMemory::make(bytes)};
        XcbError error;
        if (segment.memory) {
            error.reset(xcb_request_check(
                c_, xcb_shm_attach_checked(c_, segment.segment, static_cast<std::uint32_t>(segment.memory->id()), 0)));
        }
        if (!segment.memory || error) {
            useShm_ = false;
            logOnce(loggedNoShm, "the X server cannot attach our shared memory: grabbing with plain GetImage");
            return nullptr;
        }
        segment.memory->markForRemoval();
        segment_ = std::move(segment);
        return &*segment_;
    }

    void releaseBuffers() {
        if (segment_ && !broken()) {
            xcb_shm_detach(c_, segment_->segment);
            xcb_flush(c_);
        }
        segment_.reset();
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
    xcb_damage_damage_t damage_ = 0;

    Rect area_;
    StreamSize size_;
    std::optional<GrabSegment> segment_;
    std::vector<std::shared_ptr<std::uint8_t[]>> frames_;
    DamageTracker tracker_;
    std::uint64_t lastFrame_ = 0;  // serial of the last frame made in place; 0 for none
    bool wholeAreaChanged_ = true;
    int ticks_ = 0;
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
