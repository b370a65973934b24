// Frames from the compositor's screen cast stream through libpipewire. The stream's loop is ours
// and runs on the capture queue: the streamer rests on its descriptor and each look iterates it
// without waiting, so a still screen (the compositor sends frames only on change) costs nothing.
#include "Backends/gnome/PipeWireCapturer.hpp"

#include <pipewire/pipewire.h>
#include <spa/buffer/meta.h>
#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "Backends/gnome/DamagedFrames.hpp"
#include "Backends/gnome/DisplayConfig.hpp"
#include "Log/DiagnosticLog.hpp"

namespace vantrel::gnome {

namespace {

// How long the first frame of a new stream may take (50 to 100 ms on a loaded machine), and when
// the compositor is made to paint one.
constexpr auto firstFrameTimeout = std::chrono::seconds(3);
constexpr auto nudgeAfter = std::chrono::milliseconds(250);
// The streamer rests on the stream's news; the monitor layout is looked at this often anyway.
constexpr auto restingLook = std::chrono::seconds(1);
// How often the monitor layout is read again while looking.
constexpr auto monitorCheckInterval = std::chrono::seconds(1);
// At most this many damage rectangles are read from one buffer.
constexpr std::uint32_t damageRegions = 16;

void initialisePipeWire() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

struct LoopDeleter {
    void operator()(pw_loop* loop) const { pw_loop_destroy(loop); }
};
struct ContextDeleter {
    void operator()(pw_context* context) const { pw_context_destroy(context); }
};
struct CoreDeleter {
    void operator()(pw_core* core) const { pw_core_disconnect(core); }
};
struct StreamDeleter {
    void operator()(pw_stream* stream) const { pw_stream_destroy(stream); }
};

// The loop is used on this thread only: entered around each use, as libpipewire asks.
class Entered {
public:
    explicit Entered(pw_loop* loop) : loop_(loop) { pw_loop_enter(loop_); }
    ~Entered() { pw_loop_leave(loop_); }
    Entered(const Entered&) = delete;
    Entered& operator=(const Entered&) = delete;

private:
    pw_loop* loop_;
};

class PipeWireCapturer final : public ScreenCapturer {
public:
    PipeWireCapturer(std::shared_ptr<SessionBroker> broker, std::shared_ptr<RemoteSession> session,
                     std::unique_ptr<pw_loop, LoopDeleter> loop)
        : broker_(std::move(broker)), session_(std::move(session)), loop_(std::move(loop)) {}

    ~PipeWireCapturer() override {
        closeStream();
        const Entered entered(loop_.get());
        core_.reset();
        context_.reset();
    }
    PipeWireCapturer(const PipeWireCapturer&) = delete;
    PipeWireCapturer& operator=(const PipeWireCapturer&) = delete;

    std::vector<MonitorFacts> monitors() override { return readMonitors(session_->connection()); }

    CaptureStatus watch(const Rect& area, StreamSize size) override {
        size_ = size;
        area_ = area;
        std::string connector;
        for (const auto& monitor : monitors()) {
            if (monitor.bounds == area) {
                connector = monitor.outputName;
            }
        }
        if (connector.empty()) {
            diagnosticLog().warn("capture: no monitor of the compositor is at {},{} {}x{}", area.x, area.y, area.width,
                                 area.height);
            return CaptureStatus::permanentError;
        }
        std::string error;
        if (!session_->records(connector) || session_->superseded()) {
            // A monitor newer than the session: the session is made anew with it.
            auto renewed = broker_->acquire(error, connector);
            if (!renewed) {
                diagnosticLog().warn("capture: no remote desktop session records monitor {}: {}", connector, error);
                return CaptureStatus::permanentError;
            }
            disconnect();
            session_ = std::move(renewed);
        }
        const auto stream = session_->record(connector, area);
        if (!stream) {
            diagnosticLog().warn("capture: the remote desktop session has no stream of monitor {}", connector);
            return CaptureStatus::permanentError;
        }
        if (!stream_ || stream->node != node_) {
            if (!connect(stream->node, error)) {
                diagnosticLog().warn("capture: cannot read the stream of monitor {}: {}", connector, error);
                return CaptureStatus::permanentError;
            }
            node_ = stream->node;
            connector_ = connector;
        }
        fresh_ = true;
        // The first picture is grabbed right after watch(): wait for it here. The compositor sends
        // a frame when it paints, and a new stream of a still screen may wait for that a long
        // time: the pointer, drawn into the picture, nudged there and back makes it paint.
        const auto start = std::chrono::steady_clock::now();
        bool nudged = false;
        while (held_ == nullptr && !ended_ && std::chrono::steady_clock::now() < start + firstFrameTimeout) {
            if (!nudged && std::chrono::steady_clock::now() >= start + nudgeAfter) {
                diagnosticLog().debug("capture: monitor {} sent no frame yet; nudging the pointer", connector);
                session_->nudgePointer();
                nudged = true;
            }
            iterate(10);
        }
        if (held_ == nullptr) {
            diagnosticLog().warn("capture: monitor {} sent no frame{}", connector, ended_ ? ": " + endReason_ : "");
            return CaptureStatus::permanentError;
        }
        return CaptureStatus::ok;
    }

    ScreenChanges changes() override {
        iterate(0);
        ScreenChanges changes;
        if (ended_) {
            // First a look at the monitors (one that went away ends the stream as gone), then the end.
            if (!endReported_) {
                endReported_ = true;
                changes.monitors = true;
                return changes;
            }
            changes.status = CaptureStatus::permanentError;
            changes.reason = "the screen cast stream ended: " + endReason_;
            return changes;
        }
        changes.picture = std::exchange(fresh_, false);
        // A monitor switched off may leave its stream merely idle: the layout is read again at
        // least once a second of looking.
        const auto now = std::chrono::steady_clock::now();
        const bool due = now - monitorsChecked_ >= monitorCheckInterval;
        changes.monitors = std::exchange(resized_, false) || due;
        if (changes.monitors) {
            monitorsChecked_ = now;
        }
        return changes;
    }

    CaptureResult grab() override {
        if (held_ == nullptr) {
            return {CaptureStatus::temporaryError, nullptr, "no frame has come yet"};
        }
        const spa_data& data = held_->buffer->datas[0];
        const auto width = static_cast<std::int32_t>(format_.size.width);
        const auto height = static_cast<std::int32_t>(format_.size.height);
        const std::size_t stride =
            data.chunk->stride > 0 ? static_cast<std::size_t>(data.chunk->stride) : static_cast<std::size_t>(width) * 4;
        if (stride * static_cast<std::size_t>(height) + data.chunk->offset > data.maxsize) {
            return {CaptureStatus::temporaryError, nullptr, "a buffer smaller than its picture"};
        }
        const ScreenPixels screen{static_cast<const std::uint8_t*>(data.data) + data.chunk->offset, stride, width,
                                  height};
        std::shared_ptr<const PixelBuffer> frame;
        if (width == size_.width && height == size_.height) {
            frame = frames_.frame(screen);
        } else {
            // A monitor larger than the stream (or scaled): the whole picture, scaled down.
            frame = assembleFrame(screen, size_, nullptr, 0, 0);
        }
        if (!frame) {
            return {CaptureStatus::temporaryError, nullptr, "every frame buffer is still in use"};
        }
        return {CaptureStatus::ok, std::move(frame), {}};
    }

    std::optional<NewsSource> news() override {
        return NewsSource{pw_loop_get_fd(loop_.get()),
                          std::chrono::duration_cast<std::chrono::nanoseconds>(restingLook)};
    }

private:
    void closeStream() {
        const Entered entered(loop_.get());
        giveBack();
        if (stream_) {
            // Destroying a stream can still run its callbacks (a portal's remote processes the
            // node's last state change on the spot), and stream_ is already null by then.
            spa_hook_remove(&listener_);
        }
        stream_.reset();
        node_ = 0;
        format_ = {};
    }

    // Leaves the PipeWire remote too: another session may show its streams on another one.
    void disconnect() {
        closeStream();
        const Entered entered(loop_.get());
        core_.reset();
    }

    bool connect(std::uint32_t node, std::string& error) {
        closeStream();
        const Entered entered(loop_.get());
        if (!core_) {
            context_.reset(pw_context_new(loop_.get(), nullptr, 0));
            if (!context_) {
                error = "no PipeWire context";
                return false;
            }
            // The portal's streams are seen only through the remote it opens for the session.
            const int remote = session_->pipeWireRemote(error);
            if (remote < 0 && session_->throughPortal()) {
                return false;
            }
            core_.reset(remote >= 0 ? pw_context_connect_fd(context_.get(), remote, nullptr, 0)
                                    : pw_context_connect(context_.get(), nullptr, 0));
            if (!core_) {
                error = "cannot connect to PipeWire";
                return false;
            }
        }
        stream_.reset(pw_stream_new(core_.get(), "vantrel-capture",
                                    pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                      PW_KEY_MEDIA_ROLE, "Screen", nullptr)));
        if (!stream_) {
            error = "cannot make a PipeWire stream";
            return false;
        }
        listener_ = {};
        pw_stream_add_listener(stream_.get(), &listener_, &events(), this);
        ended_ = false;
        endReported_ = false;
        // BGRx, any size and rate: what the compositor's memory buffers carry.
        std::uint8_t storage[1024];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, storage, sizeof(storage));
        spa_video_info_raw wanted{};
        wanted.format = SPA_VIDEO_FORMAT_BGRx;
        const spa_pod* params[] = {spa_format_video_raw_build(&builder, SPA_PARAM_EnumFormat, &wanted)};
        if (pw_stream_connect(stream_.get(), PW_DIRECTION_INPUT, node,
                              static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                              params, 1) < 0) {
            error = "pw_stream_connect failed";
            return false;
        }
        return true;
    }

    static const pw_stream_events& events() {
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = [](void* self, pw_stream_state /*old*/, pw_stream_state state, const char* error) {
                static_cast<PipeWireCapturer*>(self)->stateChanged(state, error);
            };
            e.param_changed = [](void* self, std::uint32_t id, const spa_pod* param) {
                static_cast<PipeWireCapturer*>(self)->paramChanged(id, param);
            };
            e.process = [](void* self) { static_cast<PipeWireCapturer*>(self)->process(); };
            return e;
        }();
        return events;
    }

    void stateChanged(pw_stream_state state, const char* error) {
        diagnosticLog().debug("capture: stream of {} is {}{}", connector_, pw_stream_state_as_string(state),
                              error != nullptr ? std::string(": ") + error : "");
        if (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED) {
            ended_ = true;
            endReason_ = error != nullptr ? error : pw_stream_state_as_string(state);
        }
    }

    void paramChanged(std::uint32_t id, const spa_pod* param) {
        if (param == nullptr || id != SPA_PARAM_Format) {
            return;
        }
        std::uint32_t mediaType = 0;
        std::uint32_t mediaSubtype = 0;
        if (spa_format_parse(param, &mediaType, &mediaSubtype) < 0 || mediaType != SPA_MEDIA_TYPE_video ||
            mediaSubtype != SPA_MEDIA_SUBTYPE_raw) {
            return;
        }
        spa_video_info_raw format{};
        if (spa_format_video_raw_parse(param, &format) < 0) {
            return;
        }
        const bool first = format_.size.width == 0;
        format_ = format;
        frames_.reset(static_cast<std::int32_t>(format.size.width), static_cast<std::int32_t>(format.size.height));
        resized_ = !first;
        diagnosticLog().debug("capture: stream of {} is {}x{}", connector_, format.size.width, format.size.height);

        // Buffers in memory we can map, with the parts drawn since the last buffer as metadata.
        std::uint8_t storage[1024];
        spa_pod_builder builder{};
        spa_pod_builder_init(&builder, storage, sizeof(storage));
        spa_pod_frame frame{};
        const spa_pod* params[2];
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers);
        spa_pod_builder_prop(&builder, SPA_PARAM_BUFFERS_dataType, 0);
        spa_pod_builder_int(&builder, (1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd));
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
        spa_pod_builder_push_object(&builder, &frame, SPA_TYPE_OBJECT_ParamMeta, SPA_PARAM_Meta);
        spa_pod_builder_prop(&builder, SPA_PARAM_META_type, 0);
        spa_pod_builder_id(&builder, SPA_META_VideoDamage);
        spa_pod_builder_prop(&builder, SPA_PARAM_META_size, 0);
        spa_pod_builder_int(&builder, static_cast<std::int32_t>(sizeof(spa_meta_region) * damageRegions));
        params[1] = static_cast<const spa_pod*>(spa_pod_builder_pop(&builder, &frame));
        pw_stream_update_params(stream_.get(), params, 2);
    }

    // Takes every buffer that came, keeps the newest with a picture and gives the others back, so
    // the compositor never runs short; the damage of each counts.
    void process() {
        while (pw_buffer* buffer = pw_stream_dequeue_buffer(stream_.get())) {
            const spa_data& data = buffer->buffer->datas[0];
            if (data.data == nullptr || data.chunk->size == 0) {
                pw_stream_queue_buffer(stream_.get(), buffer);  // the pointer's metadata only
                continue;
            }
            noteDamage(*buffer->buffer);
            giveBack();
            held_ = buffer;
            fresh_ = true;
        }
    }

    void noteDamage(const spa_buffer& buffer) {
        const auto* meta =
            static_cast<const spa_meta*>(spa_buffer_find_meta(const_cast<spa_buffer*>(&buffer), SPA_META_VideoDamage));
        if (meta == nullptr) {
            if (!reportedNoDamage_) {
                diagnosticLog().info("capture: the compositor reports no damage; each frame is compared with the last");
                reportedNoDamage_ = true;
            }
            frames_.damageUnknown();
            return;
        }
        const auto* region = static_cast<const spa_meta_region*>(meta->data);
        // The meta has room for every region we asked for; the compositor fills them from the
        // front and ends the list with an invalid one where fewer changed.
        const std::size_t room = meta->size / sizeof(spa_meta_region);
        std::size_t filled = 0;
        for (; filled < room && spa_meta_region_is_valid(&region[filled]); ++filled) {
            const auto& r = region[filled].region;
            frames_.damaged({r.position.x, r.position.y, static_cast<std::int32_t>(r.size.width),
                             static_cast<std::int32_t>(r.size.height)});
        }
        if (filled == 0 || filled == room) {
            // No region, or every slot used and perhaps more changed: find out by comparing.
            frames_.damageUnknown();
        }
    }

    void giveBack() {
        if (held_ != nullptr && stream_) {
            pw_stream_queue_buffer(stream_.get(), held_);
        }
        held_ = nullptr;
    }

    void iterate(int timeoutMillis) {
        const Entered entered(loop_.get());
        pw_loop_iterate(loop_.get(), timeoutMillis);
    }

    std::shared_ptr<SessionBroker> broker_;
    std::shared_ptr<RemoteSession> session_;
    std::unique_ptr<pw_loop, LoopDeleter> loop_;
    std::unique_ptr<pw_context, ContextDeleter> context_;
    std::unique_ptr<pw_core, CoreDeleter> core_;
    std::unique_ptr<pw_stream, StreamDeleter> stream_;
    spa_hook listener_{};
    std::uint32_t node_ = 0;
    std::string connector_;
    Rect area_;
    StreamSize size_;
    spa_video_info_raw format_{};
    DamagedFrames frames_;
    pw_buffer* held_ = nullptr;  // the newest picture, ours until the next comes
    bool fresh_ = false;
    bool resized_ = false;
    std::chrono::steady_clock::time_point monitorsChecked_ = std::chrono::steady_clock::now();
    bool ended_ = false;
    bool endReported_ = false;
    std::string endReason_;
    bool reportedNoDamage_ = false;
};

}  // namespace

std::unique_ptr<ScreenCapturer> makePipeWireCapturer(const std::shared_ptr<SessionBroker>& broker) {
    std::string error;
    auto session = broker->acquire(error);
    if (!session) {
        diagnosticLog().warn("capture: no remote desktop session with the compositor: {}", error);
        return nullptr;
    }
    initialisePipeWire();
    std::unique_ptr<pw_loop, LoopDeleter> loop(pw_loop_new(nullptr));
    if (!loop) {
        diagnosticLog().warn("capture: cannot make a PipeWire loop");
        return nullptr;
    }
    return std::make_unique<PipeWireCapturer>(broker, std::move(session), std::move(loop));
}

}  // namespace vantrel::gnome
