#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/KeyStore.hpp"
#include "Backends/DesktopBackend.hpp"
#include "Geometry/Geometry.hpp"
#include "Host/RepeatingTask.hpp"
#include "Host/RestingTask.hpp"
#include "vantrel/ControlMessages.hpp"

namespace vantrel {

class AppCatalog;
class FrameStages;
class HostSession;
class InjectorInput;
class InputInjector;
class KeyStoreWorker;
class MainQueue;
class SyncServer;
class VideoEncoder;
class WindowFollower;

// What the desktop host shows and lets the user change, one flag per piece, so that a view
// redraws only what changed.
enum class DesktopChange : unsigned {
    sharing = 1U << 0U,
    port = 1U << 1U,
    client = 1U << 2U,
    permissions = 1U << 3U,
    displays = 1U << 4U,
    activeDisplay = 1U << 5U,
    addresses = 1U << 6U,
    captureError = 1U << 7U,
    pairing = 1U << 8U,  // the revision, the key, keyError, or anything else in pairingURL()
    showCode = 1U << 9U,
    followWindows = 1U << 10U,
};

// Several changes reported at once.
class DesktopChanges {
public:
    DesktopChanges() = default;
    DesktopChanges(std::initializer_list<DesktopChange> changes) {
        for (const auto change : changes) {
            bits_ |= static_cast<unsigned>(change);
        }
    }
    [[nodiscard]] bool has(DesktopChange change) const { return (bits_ & static_cast<unsigned>(change)) != 0; }
    [[nodiscard]] bool empty() const { return bits_ == 0; }

private:
    unsigned bits_ = 0;
};

// The desktop host: the host session with the screen capture as frame source and the input
// injector as input sink, over the desktop backend of this session, plus the application catalog,
// the window follower, the key store and the keep-awake hold. It decides what starts and stops
// when a phone comes or goes, runs the periodic work (a 3-second refresh of permissions,
// addresses, host name and displays; while a phone is connected the pointer report at 20 Hz and
// the window check at 2.5 Hz) and keeps the state the tray panel shows and edits, reporting each
// change through onChanged. No user-interface toolkit: the panel adapts it.
//
// Lives on the main queue: it is made, called, and destroyed there, every observer runs there,
// and callbacks from other queues hop there holding it weakly. Debug builds check this at every
// entry point. The host session owns which display is shown; the host, the injector and the
// follower read it from there.
class DesktopHost {
public:
    // The default port of the pairing link; the server falls back to one the system chooses.
    static constexpr std::uint16_t preferredPort = 47823;
    // The reason the session's screen saver inhibition names.
    static constexpr const char* keepAwakeReason = "Telefon steuert diesen Mac";
    // The periodic work.
    static constexpr std::chrono::milliseconds refreshInterval{3000};
    static constexpr std::chrono::milliseconds pointerInterval{50};
    // A pointer that stands still is handed to the server again once this long after the last
    // time: the server holds a position back while the phone's link is busy and sends it on a
    // later one.
    static constexpr std::chrono::milliseconds pointerRepeatInterval{1000};
    static constexpr std::chrono::milliseconds followInterval{400};

    // What the host takes from its surroundings; every member is required unless it says
    // otherwise. AppModel::productionServices() (in its own library) gives this computer's.
    struct Services {
        std::shared_ptr<MainQueue> main;
        std::shared_ptr<SyncServer> server;
        std::shared_ptr<VideoEncoder> encoder;
        DesktopBackend backend;
        std::shared_ptr<KeyStore> keys;
        std::function<std::vector<std::string>()> addresses;
        // The name in the welcome and the pairing link, read again at each refresh.
        std::function<std::string()> hostName;
        // Seconds of system uptime, for the follower's click suppression.
        std::function<double()> uptimeSeconds;
        // Where the user's choice to follow windows is kept; without these it is on and forgotten.
        std::function<bool()> loadFollowWindows;
        std::function<void(bool)> saveFollowWindows;
        // Where the frames' time goes on the host (the log at debug level, --stats); optional.
        std::shared_ptr<FrameStages> stages;
    };

    // Starts at once: reads the displays and permissions, asks the key store for the key (the
    // server listens once it is there) and starts the refresh. Call on the main queue.
    [[nodiscard]] static std::shared_ptr<DesktopHost> create(Services services);

    DesktopHost(const DesktopHost&) = delete;
    DesktopHost& operator=(const DesktopHost&) = delete;
    // Stops everything still running and waits for the server and the capture to have stopped.
    ~DesktopHost();

    // Called on the main queue after every change of the observable state below.
    std::function<void(DesktopChanges)> onChanged;

    // Observable state, read on the main queue.
    [[nodiscard]] bool sharingEnabled() const { return sharingEnabled_; }
    [[nodiscard]] std::optional<std::uint16_t> port() const { return port_; }
    [[nodiscard]] const std::optional<std::string>& clientName() const { return clientName_; }
    [[nodiscard]] bool hasScreenRecording() const { return hasScreenRecording_; }
    [[nodiscard]] bool hasAccessibility() const { return hasAccessibility_; }
    [[nodiscard]] const std::vector<DisplayInfo>& displays() const { return displays_; }
    [[nodiscard]] std::uint32_t activeDisplay() const;
    [[nodiscard]] const std::vector<std::string>& addresses() const { return addresses_; }
    [[nodiscard]] const std::optional<std::string>& captureError() const { return captureError_; }
    [[nodiscard]] std::int64_t pairingRevision() const { return pairingRevision_; }
    [[nodiscard]] bool showCode() const { return showCode_; }
    // Whether the stream follows new windows to another display; never where the backend cannot
    // see other programs' windows (canFollowWindows), whatever the user chose elsewhere.
    [[nodiscard]] bool followWindows() const { return followWindows_ && canFollowWindows(); }
    // Fixed for the host's life: the backend's. Where it is false the panel hides the switch and
    // shows noFollowingReason, and the follower never runs.
    [[nodiscard]] bool canFollowWindows() const { return services_.backend.followsWindows; }
    [[nodiscard]] const std::string& noFollowingReason() const { return services_.backend.noFollowingReason; }
    // Where the key came from (the menu warns when it lives for this session only). Empty until
    // the keyring has answered (it may first ask the user to unlock it); the server starts then.
    [[nodiscard]] const PairingKey& pairingKey() const { return key_; }
    // Why the last request for a new key was refused (the keyring could not keep it), in the
    // panel's words; none after a new key was taken.
    [[nodiscard]] const std::optional<std::string>& keyError() const { return keyError_; }
    // The pairing link as text; none until the server listens and the host has an address.
    [[nodiscard]] std::optional<std::string> pairingURL() const;

    // Editable state.
    void setSharingEnabled(bool enabled);
    void setShowCode(bool show);
    // Ignored where the host cannot follow windows: the choice kept for other sessions stays.
    void setFollowWindows(bool follow);

    // Streams and controls display (one of displays()); with a pointer, the pointer goes there,
    // else to the display's centre when it is elsewhere. An unknown or the current display is
    // ignored.
    void select(std::uint32_t display, std::optional<Point> pointer = std::nullopt);
    // A fresh key: every paired phone is locked out and must scan the new link. Takes effect when
    // the keyring has kept it; refused (keyError) when that would not last past a restart.
    void rotateKey();
    // Lets the phone go (it may connect again).
    void disconnectClient();
    // Reads the permissions, the addresses, the host name and the displays again now (the
    // 3-second refresh does this too; the panel calls it when it opens).
    void refresh();

    // The way down: phone dropped, input released, capture stopped, keep-awake released, listener
    // and advertisement withdrawn. stopped runs on the main queue once that is done.
    void shutDown(std::function<void()> stopped);

private:
    explicit DesktopHost(Services services);
    void start();

    void checkThread() const;
    void notify(DesktopChanges changes);
    void clientChanged(const std::optional<std::string>& name);
    // Makes the injector where it is missing (call only where the session takes synthetic input);
    // true when there is one.
    bool makeInjector();
    // Reads the displays and their layout again; true when the list changed.
    bool readDisplays();
    // Streams and controls display from now on, on the phone too.
    void activate(std::uint32_t display);
    // The shown display went away under a watching phone: it watches another from now on.
    void showAnotherDisplay(std::uint32_t gone);
    // Hands the session what the welcome says (displays, control); publishWelcome() also sends it.
    void describeToSession();
    void publishWelcome();
    // Returns whether the pointer moved since the last look: the report keeps its pace while it
    // does, and rests on the session's pointer news while it stands still.
    bool reportPointer();
    void followNewWindows();
    void runSharingStep();
    void keyLoaded(PairingKey key);
    void keyRotated(PairingKey fresh);
    void centrePointerIfOutside(std::uint32_t display);
    void holdAwake(bool hold);
    void stopPeriodicWork();
    [[nodiscard]] std::optional<Rect> boundsOf(std::uint32_t display) const;
    [[nodiscard]] std::uint32_t mainDisplay() const;
    void setCaptureError(std::optional<std::string> error);

    Services services_;
    std::shared_ptr<HostSession> session_;
    std::shared_ptr<AppCatalog> catalog_;
    std::shared_ptr<WindowFollower> follower_;
    std::shared_ptr<InputInjector> injector_;  // null until the session takes synthetic input
    std::shared_ptr<InjectorInput> input_;
    std::shared_ptr<KeyStoreWorker> keyWorker_;

    bool sharingEnabled_ = true;
    std::optional<std::uint16_t> port_;
    std::optional<std::string> clientName_;
    bool hasScreenRecording_ = false;
    bool hasAccessibility_ = false;
    std::vector<DisplayInfo> displays_;
    std::vector<DisplayBounds> layout_;
    std::vector<std::string> addresses_;
    std::optional<std::string> captureError_;
    std::int64_t pairingRevision_ = 0;
    bool showCode_ = false;
    bool followWindows_ = true;
    PairingKey key_;
    std::optional<std::string> keyError_;
    bool lastPublishedControl_ = false;
    bool keepingAwake_ = false;
    bool shutDown_ = false;
    // The pointer's place last handed to the server, and when: a still pointer costs the server's
    // queue no wake-up 20 times a second. And where the last look found the desk's pointer.
    std::optional<PointerPosition> reportedPointer_;
    std::chrono::steady_clock::time_point pointerReportedAt_;
    std::optional<Point> lookedPointer_;

    RepeatingTask refreshTask_;
    RestingTask pointerTask_;
    RepeatingTask followTask_;
};

}  // namespace vantrel
