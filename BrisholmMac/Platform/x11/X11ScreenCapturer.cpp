#include <sys/ipc.h>
#include <sys/shm.h>
#include <xcb/damage.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xfixes.h>

#include <atomic>
#include <cmath>
#include <optional>
#include <utility>

#include "Capture/FrameAssembly.hpp"
#include "Capture/ScreenCapturer.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/x11/RandrMonitors.hpp"
#include "Platform/x11/XcbHandles.hpp"

namespace vantrel {

namespace {

using x11::XcbError;
using x11::XcbReply;

// Each fallback is worth one line per process, not one per stream.
void logOnce(std::atomic<bool>& logged, const char* message) {
    if (!logged.exchange(true)) {
        diagnosticLog().warn("capture: {}", message);
    }
}
std::atomic<bool> loggedNoShm{false};
std::atomic<bool> loggedNoDamage{false};
std::atomic<bool> loggedNoXfixes{false};

std::string describe(const xcb_generic_error_t& error) {
    return "X error " + std::to_string(error.error_code) + " on request " + std::to_string(error.major_code) + "." +
           std::to_string(error.minor_code);
}

// A System V shared-memory segment mapped into this process. It is marked for removal as soon as
// the X server has attached it too, so it cannot outlive both even after a crash. Frames made in
// place hold it, so the mapping lasts as long as the last of them.
class SharedMemory {
public:
    static std::shared_ptr<SharedMemory> make(std::size_t size) {
        const int id = shmget(IPC_PRIVATE, size, IPC_CREAT | 0600);
        if (id < 0) {
            return nullptr;
        }
        void* address = shmat(id, nullptr, 0);
        if (address == reinterpret_cast<void*>(-1)) {  // NOLINT(performance-no-int-to-ptr): shmat's failure value
            shmctl(id, IPC_RMID, nullptr);
            return nullptr;
        }
        return std::shared_ptr<SharedMemory>(new SharedMemory(id, static_cast<std::uint8_t*>(address), size));
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

// One segment the X server writes grabs into, and its name on this connection.
struct GrabBuffer {
    xcb_shm_seg_t segment = 0;
    std::shared_ptr<SharedMemory> memory;
};

// A frame made in place keeps its segment until the encoder and the streamer's last frame are
// done with it: one being grabbed, one being encoded, one kept as the last frame.
constexpr std::size_t grabBuffers = 3;

// How far from the watched area a pointer still matters: its image can reach in from outside.
constexpr double cursorReach = 64;

// How often the monitor layout is read again even without a RandR event (not every layout change
// sends one): every this many ticks, about four times a second at 60 per second.
constexpr int monitorCheckTicks = 15;

class X11ScreenCapturer final : public ScreenCapturer {
public:
    X11ScreenCapturer(x11::XcbConnection connection, xcb_window_t root)
        : connection_(std::move(connection)), root_(root) {
        auto* c = connection_.get();
        useShm_ = queryShm(c);
        if (!useShm_) {
            logOnce(loggedNoShm, "MIT-SHM is missing: grabbing with plain GetImage, one copy more per frame");
        }
        damageEvent_ = queryDamage(c);
        if (!damageEvent_) {
            logOnce(loggedNoDamage, "DAMAGE is missing: every tick grabs a full frame");
        } else {
            damage_ = xcb_generate_id(c);
            xcb_damage_create(c, damage_, root_, XCB_DAMAGE_REPORT_LEVEL_DELTA_RECTANGLES);
        }
        cursorEvent_ = queryXfixes(c);
        if (!cursorEvent_) {
            logOnce(loggedNoXfixes, "XFIXES 4 is missing: frames carry no pointer");
        } else {
            xcb_xfixes_select_cursor_input(c, root_, XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
        }
        const auto* randr = xcb_get_extension_data(c, &xcb_randr_id);
        if (randr != nullptr && randr->present != 0) {
            randrEvent_ = randr->first_event;
            xcb_randr_select_input(c, root_,
                                   XCB_RANDR_NOTIFY_MASK_SCREEN_CHANGE | XCB_RANDR_NOTIFY_MASK_CRTC_CHANGE |
                                       XCB_RANDR_NOTIFY_MASK_OUTPUT_CHANGE);
        }
        xcb_flush(c);
    }

    ~X11ScreenCapturer() override {
        releaseBuffers();
        if (damageEvent_ && xcb_connection_has_error(connection_.get()) == 0) {
            xcb_damage_destroy(connection_.get(), damage_);
            xcb_flush(connection_.get());
        }
    }

    std::vector<MonitorFacts> monitors() override {
        if (broken()) {
            return {};
        }
        return x11::readMonitors(connection_.get(), root_, false).value_or(std::vector<MonitorFacts>{});
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
        return CaptureStatus::ok;
    }

    ScreenChanges changes() override {
        ScreenChanges changes;
        if (broken()) {
            return failed("the connection to the X display broke");
        }
        bool cursorImageChanged = false;
        bool damaged = false;
        while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_.get())}) {
            const auto type = static_cast<std::uint8_t>(event->response_type & 0x7f);
            if (type == 0) {
                diagnosticLog().debug("capture: {}", describe(*reinterpret_cast<xcb_generic_error_t*>(event.get())));
            } else if (damageEvent_ && type == *damageEvent_ + XCB_DAMAGE_NOTIFY) {
                damaged = true;
                const auto& notify = *reinterpret_cast<xcb_damage_notify_event_t*>(event.get());
                const Rect drawn{static_cast<double>(notify.area.x), static_cast<double>(notify.area.y),
                                 static_cast<double>(notify.area.width), static_cast<double>(notify.area.height)};
                changes.picture = changes.picture || !drawn.intersection(area_).isEmpty();
            } else if (cursorEvent_ && type == *cursorEvent_ + XCB_XFIXES_CURSOR_NOTIFY) {
                cursorImageChanged = true;
            } else if (randrEvent_ && (type == *randrEvent_ + XCB_RANDR_SCREEN_CHANGE_NOTIFY ||
                                       type == *randrEvent_ + XCB_RANDR_NOTIFY)) {
                changes.monitors = true;
            }
        }
        if (damaged) {
            // Repairs everything seen so far; drawing from now on is reported afresh.
            xcb_damage_subtract(connection_.get(), damage_, XCB_NONE, XCB_NONE);
            xcb_flush(connection_.get());
        }
        if (!damageEvent_ || std::exchange(wholeAreaChanged_, false)) {
            changes.picture = true;
        }
        if (++ticks_ % monitorCheckTicks == 0) {
            changes.monitors = true;
        }
        if (cursorEvent_) {
            XcbReply<xcb_query_pointer_reply_t> pointer(
                xcb_query_pointer_reply(connection_.get(), xcb_query_pointer(connection_.get(), root_), nullptr));
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
        const auto x = static_cast<std::int16_t>(area_.x);
        const auto y = static_cast<std::int16_t>(area_.y);
        const auto width = static_cast<std::uint16_t>(area_.width);
        const auto height = static_cast<std::uint16_t>(area_.height);
        const CursorImage* cursor = currentCursor();
        const std::int32_t cursorX = pointer_ ? static_cast<std::int32_t>(pointer_->x - area_.x) : 0;
        const std::int32_t cursorY = pointer_ ? static_cast<std::int32_t>(pointer_->y - area_.y) : 0;
        xcb_generic_error_t* rawError = nullptr;
        if (const auto* buffer = freeBuffer()) {
            XcbReply<xcb_shm_get_image_reply_t> image(xcb_shm_get_image_reply(
                connection_.get(),
                xcb_shm_get_image(connection_.get(), root_, x, y, width, height, ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP,
                                  buffer->segment, 0),
                &rawError));
            XcbError error(rawError);
            if (!image) {
                return failedGrab(error.get());
            }
            if (image->size < buffer->memory->size() || (image->depth != 24 && image->depth != 32)) {
                return {CaptureStatus::temporaryError, nullptr, "the screen is not 32-bit true colour"};
            }
            // At the stream size the frame is the segment itself, lent out until the frame goes.
            const ScreenPixels pixels{buffer->memory->bytes(), static_cast<std::size_t>(width) * 4, width, height,
                                      buffer->memory};
            return frame(assembleFrame(pixels, size_, cursor, cursorX, cursorY));
        }
        XcbReply<xcb_get_image_reply_t> image(xcb_get_image_reply(
            connection_.get(),
            xcb_get_image(connection_.get(), XCB_IMAGE_FORMAT_Z_PIXMAP, root_, x, y, width, height, ~0u), &rawError));
        XcbError error(rawError);
        if (!image) {
            return failedGrab(error.get());
        }
        const auto length = static_cast<std::size_t>(xcb_get_image_data_length(image.get()));
        if (length < static_cast<std::size_t>(width) * height * 4 || (image->depth != 24 && image->depth != 32)) {
            return {CaptureStatus::temporaryError, nullptr, "the screen is not 32-bit true colour"};
        }
        const ScreenPixels pixels{xcb_get_image_data(image.get()), static_cast<std::size_t>(width) * 4, width, height,
                                  nullptr};
        return frame(assembleFrame(pixels, size_, cursor, cursorX, cursorY));
    }

private:
    static bool queryShm(xcb_connection_t* c) {
        const auto* extension = xcb_get_extension_data(c, &xcb_shm_id);
        if (extension == nullptr || extension->present == 0) {
            return false;
        }
        XcbReply<xcb_shm_query_version_reply_t> version(xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr));
        return version != nullptr;
    }

    static std::optional<std::uint8_t> queryDamage(xcb_connection_t* c) {
        const auto* extension = xcb_get_extension_data(c, &xcb_damage_id);
        if (extension == nullptr || extension->present == 0) {
            return std::nullopt;
        }
        // The server refuses damage requests from a client that has not asked for the version.
        XcbReply<xcb_damage_query_version_reply_t> version(
            xcb_damage_query_version_reply(c, xcb_damage_query_version(c, 1, 1), nullptr));
        if (!version) {
            return std::nullopt;
        }
        return extension->first_event;
    }

    static std::optional<std::uint8_t> queryXfixes(xcb_connection_t* c) {
        const auto* extension = xcb_get_extension_data(c, &xcb_xfixes_id);
        if (extension == nullptr || extension->present == 0) {
            return std::nullopt;
        }
        XcbReply<xcb_xfixes_query_version_reply_t> version(
            xcb_xfixes_query_version_reply(c, xcb_xfixes_query_version(c, 4, 0), nullptr));
        if (!version || version->major_version < 4) {
            return std::nullopt;
        }
        return extension->first_event;
    }

    [[nodiscard]] bool broken() const { return xcb_connection_has_error(connection_.get()) != 0; }

    // A shared-memory buffer no frame holds, made when fewer than grabBuffers exist; null when
    // MIT-SHM cannot be used (plain GetImage then).
    const GrabBuffer* freeBuffer() {
        if (!useShm_) {
            return nullptr;
        }
        for (const auto& buffer : buffers_) {
            // Only this queue hands segments out, so a count of one cannot grow behind our back.
            if (buffer.memory.use_count() == 1) {
                return &buffer;
            }
        }
        if (buffers_.size() >= grabBuffers) {
            return nullptr;
        }
        const auto bytes = static_cast<std::size_t>(area_.width) * static_cast<std::size_t>(area_.height) * 4;
        GrabBuffer buffer{xcb_generate_id(connection_.get()), SharedMemory::make(bytes)};
        XcbError error;
        if (buffer.memory) {
            error.reset(xcb_request_check(
                connection_.get(), xcb_shm_attach_checked(connection_.get(), buffer.segment,
                                                          static_cast<std::uint32_t>(buffer.memory->id()), 0)));
        }
        if (!buffer.memory || error) {
            useShm_ = false;
            logOnce(loggedNoShm, "the X server cannot attach our shared memory: grabbing with plain GetImage");
            return nullptr;
        }
        buffer.memory->markForRemoval();
        buffers_.push_back(std::move(buffer));
        return &buffers_.back();
    }

    // Detaches every segment from the server; frames still holding one keep its memory.
    void releaseBuffers() {
        if (!broken()) {
            for (const auto& buffer : buffers_) {
                xcb_shm_detach(connection_.get(), buffer.segment);
            }
            xcb_flush(connection_.get());
        }
        buffers_.clear();
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
        return {CaptureStatus::temporaryError, nullptr, error ? describe(*error) : "GetImage failed"};
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
            XcbReply<xcb_xfixes_get_cursor_image_reply_t> image(xcb_xfixes_get_cursor_image_reply(
                connection_.get(), xcb_xfixes_get_cursor_image(connection_.get()), nullptr));
            if (!image) {
                cursor_.reset();
                return nullptr;
            }
            CursorImage cursor{image->width, image->height, image->xhot, image->yhot, {}};
            const auto* pixels = xcb_xfixes_get_cursor_image_cursor_image(image.get());
            const auto count = static_cast<std::size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(image.get()));
            cursor.pixels.assign(pixels, pixels + count);
            cursor_ = std::move(cursor);
        }
        return &*cursor_;
    }

    x11::XcbConnection connection_;
    xcb_window_t root_;
    bool useShm_ = false;
    std::optional<std::uint8_t> damageEvent_;
    std::optional<std::uint8_t> cursorEvent_;
    std::optional<std::uint8_t> randrEvent_;
    xcb_damage_damage_t damage_ = 0;

    Rect area_;
    StreamSize size_;
    std::vector<GrabBuffer> buffers_;
    bool wholeAreaChanged_ = true;
    int ticks_ = 0;
    std::optional<Point> pointer_;
    std::optional<CursorImage> cursor_;
    bool cursorStale_ = true;
};

}  // namespace

std::unique_ptr<ScreenCapturer> ScreenCapturer::create() {
    xcb_screen_t* screen = nullptr;
    auto connection = x11::connectToDisplay("capture", &screen);
    if (!connection) {
        return nullptr;
    }
    if (!x11::hasRandrMonitors(connection.get())) {
        diagnosticLog().warn("capture: the X server lacks RandR 1.5 monitors");
        return nullptr;
    }
    return std::make_unique<X11ScreenCapturer>(std::move(connection), screen->root);
}

}  // namespace vantrel
