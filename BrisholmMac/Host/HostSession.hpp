#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Host/Applications.hpp"
#include "Host/FrameSource.hpp"
#include "Host/InputSink.hpp"
#include "Host/MainQueue.hpp"
#include "vantrel/Bytes.hpp"
#include "vantrel/ControlMessages.hpp"

namespace vantrel {

class FrameStages;
class SyncServer;
class VideoEncoder;

// What both hosts are, apart from where pictures come from and where input goes: the server and
// the encoder wired to each other, key-frame requests and the bitrate clamp, the welcome and its
// republishing, display selection, what a phone's arrival and departure start and stop, the
// application list, and one stop order with a completion.
//
// Lives on the main queue: every public operation is called there, every observer runs there,
// and server callbacks are posted there (holding the session weakly). Two things run elsewhere
// on purpose: the encoder hands its output straight to the server on the encoder's thread, and
// the bitrate clamp runs on the server's queue, synchronously, so the next picture already has
// the new rate.
//
// Owns its parts for as long as it lives. Nothing in them points back to it strongly, so the
// host that owns the session ends everything by stopping it and letting go.
class HostSession : public std::enable_shared_from_this<HostSession> {
public:
    struct Parts {
        std::shared_ptr<MainQueue> main;
        std::shared_ptr<SyncServer> server;
        std::shared_ptr<VideoEncoder> encoder;
        std::shared_ptr<FrameSource> frames;
        std::shared_ptr<InputSink> input;
        std::shared_ptr<Applications> applications;
    };

    // What the welcome tells a phone about this host, apart from the protocol version.
    struct Description {
        std::string hostName;
        std::vector<DisplayInfo> displays;
        std::uint32_t activeDisplay = 0;
        bool canControl = false;
    };

    // Wires the parts; publishes nothing and starts nothing yet. Call on the main queue.
    [[nodiscard]] static std::shared_ptr<HostSession> create(Parts parts, Description description);

    HostSession(const HostSession&) = delete;
    HostSession& operator=(const HostSession&) = delete;
    ~HostSession();

    // Observers, all on the main queue; set them before start().
    // The port listened on, or none when listening failed.
    std::function<void(std::optional<std::uint16_t> port)> onListening;
    // A greeted phone's name, or none once it has gone; after the session's own work for it.
    std::function<void(const std::optional<std::string>& client)> onClientChanged;
    // What the congestion control asked for, before the clamp.
    std::function<void(std::int64_t requested)> onBitrateChange;
    // The phone asked for this display; the host decides, usually with selectDisplay().
    std::function<void(std::uint32_t display)> onDisplayRequested;
    // The frame source started (none) or failed or stopped by itself (the failure's text). After
    // a stop by itself the phone is disconnected as well.
    std::function<void(const FrameSource::Failure& failure)> onCaptureStatus;
    // The display being shown went away while a phone watched. The phone stays: the host picks
    // another display (selectDisplay). Without this observer the phone is let go.
    std::function<void(std::uint32_t gone)> onDisplayGone;

    // From now on the encoder's and the server's stamps of every frame go to stages, and each
    // frame sent is written to the diagnostic log at debug level. Call while wiring, before start().
    void measureStages(std::shared_ptr<FrameStages> stages);

    // Listens with the key (preferredPort 0: any port, else one fallback to any port); a phone
    // connected before is dropped.
    void start(Bytes key, std::uint16_t preferredPort);
    // Stops listening and drops the phone; the frame source keeps its own state until the phone
    // is reported gone. For sharing switched off; stopped runs on the server's queue.
    void stopListening(std::function<void()> stopped = {});
    void disconnectClient();

    [[nodiscard]] const Description& description() const { return description_; }
    [[nodiscard]] std::optional<DisplayInfo> activeDisplayInfo() const;

    // Hands the current description to the server: phones greeted from now on get it, and a
    // greeted phone gets it at once.
    void publishWelcome();
    void setDisplays(std::vector<DisplayInfo> displays);
    void setCanControl(bool canControl);
    void setHostName(std::string hostName);

    // Makes display id the active one (also when it already is), republishes the welcome, and
    // with a phone connected switches the frame source to it and then sends a key frame. False,
    // and nothing changes, when no display has that id.
    bool selectDisplay(std::uint32_t id);

    // Offers the current application list to the phone (and to every later greeting); an
    // unchanged list is not sent again.
    void offerApplications();

    // The one way down, in this order: input released, frame source stopped, server stopped
    // (phone dropped, listener and advertisement withdrawn). stopped runs once all of that is
    // done, on the server's queue. Idempotent; later calls only wait for the same end.
    void stop(std::function<void()> stopped);
    // stop(), and returns once all of it is done. For an owner's tear-down; the frame source's
    // and the server's queues must be running (or be the caller's own).
    void stopAndWait();

private:
    HostSession(Parts parts, Description description);

    void wire();
    // Debug builds stop at a call from another thread than the main queue's.
    void checkThread() const;
    // Posts work to the main queue for as long as the session exists.
    void onMain(std::function<void(HostSession&)> work);
    void clientChanged(const std::optional<std::string>& client);
    void startFrames();
    void captureStarted(const FrameSource::Failure& failure);
    void displayGone();
    // The first steps of both ways down: nothing more starts, and the phone's input is let go.
    void beginStop();

    Parts parts_;
    Description description_;
    std::optional<std::string> client_;
    std::optional<AppList> offered_;
    bool stopping_ = false;
};

}  // namespace vantrel
