#pragma once

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "App/KeyStore.hpp"
#include "Geometry/Geometry.hpp"
#include "vantrel/Bytes.hpp"
#include "vantrel/ControlMessages.hpp"

class QSettings;

namespace vantrel {

class AppCatalog;
class Displays;
class HostSession;
class InjectorInput;
class InputInjector;
class KeepAwake;
class KeyStoreWorker;
class MainQueue;
class ScreenStreamer;
class SyncServer;
class VideoEncoder;
class WindowFollower;
class WindowList;
class Workspace;

// The desktop host's one controller: it owns the host session with the screen capture as frame
// source and the input injector as input sink, the application catalog, the window follower, the
// key store and the keep-awake hold; it decides what starts and stops when a phone comes or goes,
// runs the periodic work (a 3-second refresh of permissions, addresses and displays; the pointer
// report at 20 Hz and the window check at 2.5 Hz while a phone is connected) and exposes the state
// the tray panel shows and edits, with a signal for every change.
//
// Lives on the main thread (the Qt event loop); callbacks from other threads are posted there and
// hold the controller weakly.
class AppModel : public QObject {
    Q_OBJECT

public:
    // The default port of the pairing link; the server falls back to one the system chooses.
    static constexpr std::uint16_t preferredPort = 47823;
    // The reason the session's screen saver inhibition names.
    static constexpr const char* keepAwakeReason = "Telefon steuert diesen Mac";

    // What the controller takes from its surroundings; production() is this desktop's, tests
    // replace pieces. Every member is required unless it says otherwise.
    struct Services {
        std::shared_ptr<MainQueue> main;
        std::shared_ptr<SyncServer> server;
        std::shared_ptr<VideoEncoder> encoder;
        std::shared_ptr<ScreenStreamer> streamer;
        // Makes the input injector over the model's display bounds; a null injector (no X display
        // or no XTest) means the phone can watch but not control.
        std::function<std::shared_ptr<InputInjector>(std::function<std::optional<Rect>(std::uint32_t)> bounds,
                                                     std::uint32_t activeDisplay)>
            makeInjector;
        // Null when the display server cannot be read: no displays, capture reports why.
        std::shared_ptr<Displays> displays;
        std::shared_ptr<WindowList> windows;
        std::shared_ptr<Workspace> workspace;
        std::shared_ptr<KeyStore> keys;
        std::shared_ptr<KeepAwake> keepAwake;
        std::function<std::vector<std::string>()> addresses;
        // The two permissions in this desktop's terms: the screen can be read; the display server
        // takes synthetic input (the phone controls once the injector is made as well).
        std::function<bool()> canReadScreen;
        std::function<bool()> canInject;
        // Where the desk's pointer is, in desktop points; none when it cannot be read.
        std::function<std::optional<Point>()> pointerLocation;
        // The name in the welcome and the pairing link.
        std::function<std::string()> hostName;
        // Seconds of system uptime, for the follower's click suppression.
        std::function<double()> uptimeSeconds;
        // Where "followWindows" is kept; owned by the caller, outlives the model.
        QSettings* settings = nullptr;
        // When set, capture is refused with this text (an X11-less session); the host says so
        // instead of streaming black.
        std::optional<std::string> unsupportedSession;

        [[nodiscard]] static Services production(QSettings* settings);
    };

    explicit AppModel(Services services, QObject* parent = nullptr);
    ~AppModel() override;

    AppModel(const AppModel&) = delete;
    AppModel& operator=(const AppModel&) = delete;

    // Observable state, read on the main thread.
    [[nodiscard]] bool sharingEnabled() const { return sharingEnabled_; }
    [[nodiscard]] std::optional<std::uint16_t> port() const { return port_; }
    [[nodiscard]] const std::optional<std::string>& clientName() const { return clientName_; }
    [[nodiscard]] bool hasScreenRecording() const { return hasScreenRecording_; }
    [[nodiscard]] bool hasAccessibility() const { return hasAccessibility_; }
    [[nodiscard]] const std::vector<DisplayInfo>& displays() const { return displays_; }
    [[nodiscard]] std::uint32_t activeDisplay() const { return activeDisplay_; }
    [[nodiscard]] const std::vector<std::string>& addresses() const { return addresses_; }
    [[nodiscard]] const std::optional<std::string>& captureError() const { return captureError_; }
    [[nodiscard]] std::int64_t pairingRevision() const { return pairingRevision_; }
    [[nodiscard]] bool showCode() const { return showCode_; }
    [[nodiscard]] bool followWindows() const { return followWindows_; }
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
    // Reads the permissions, the addresses and the displays again now (the 3-second refresh does
    // this too; the panel calls it when it opens).
    void refresh();

    // The way down: phone dropped, input released, capture stopped, keep-awake released, listener
    // and advertisement withdrawn. stopped runs on the main thread once that is done.
    void shutDown(std::function<void()> stopped);

Q_SIGNALS:
    // One signal per property, and changed() after any of them.
    void sharingEnabledChanged();
    void portChanged();
    void clientNameChanged();
    void permissionsChanged();
    void displaysChanged();
    void activeDisplayChanged();
    void addressesChanged();
    void captureErrorChanged();
    void pairingChanged();  // pairingRevision, the key, keyError or anything else in pairingURL()
    void showCodeChanged();
    void followWindowsChanged();
    void changed();

private:
    void clientChanged(const std::optional<std::string>& name);
    // Makes the injector where it is missing (call only where the desktop takes synthetic input);
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
    void reportPointer();
    void followNewWindows();
    void runSharingStep();
    void keyLoaded(PairingKey key);
    void keyRotated(PairingKey fresh);
    void centrePointerIfOutside(std::uint32_t display);
    [[nodiscard]] std::optional<Rect> boundsOf(std::uint32_t display) const;
    [[nodiscard]] std::uint32_t mainDisplay() const;
    void setCaptureError(std::optional<std::string> error);

    Services services_;
    std::shared_ptr<HostSession> session_;
    std::shared_ptr<AppCatalog> catalog_;
    std::shared_ptr<WindowFollower> follower_;
    std::shared_ptr<InputInjector> injector_;  // null until the desktop takes synthetic input
    std::shared_ptr<InjectorInput> input_;
    std::shared_ptr<KeyStoreWorker> keyWorker_;

    bool sharingEnabled_ = true;
    std::optional<std::uint16_t> port_;
    std::optional<std::string> clientName_;
    bool hasScreenRecording_ = false;
    bool hasAccessibility_ = false;
    std::vector<DisplayInfo> displays_;
    std::vector<DisplayBounds> layout_;
    std::uint32_t activeDisplay_ = 0;
    std::vector<std::string> addresses_;
    std::optional<std::string> captureError_;
    std::int64_t pairingRevision_ = 0;
    bool showCode_ = false;
    bool followWindows_ = true;
    PairingKey key_;
    std::optional<std::string> keyError_;
    bool lastPublishedControl_ = false;
    bool keepingAwake_ = false;

    QTimer refreshTimer_;
    QTimer pointerTimer_;
    QTimer followTimer_;
};

}  // namespace vantrel
