#include "App/AppModel.hpp"

#include <QSettings>

#include <algorithm>

#include "App/AppCatalog.hpp"
#include "App/DesktopParts.hpp"
#include "App/HostSettings.hpp"
#include "App/KeyRotation.hpp"
#include "App/KeyStoreWorker.hpp"
#include "Capture/Displays.hpp"
#include "Capture/ScreenStreamer.hpp"
#include "Capture/VideoEncoder.hpp"
#include "Host/HostSession.hpp"
#include "Host/MainQueue.hpp"
#include "Input/InputInjector.hpp"
#include "Input/WindowFollower.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/KeepAwake.hpp"
#include "SyncServer.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {

namespace {

constexpr int refreshMillis = 3000;
constexpr int pointerMillis = 50;
constexpr int followMillis = 400;

}  // namespace

AppModel::AppModel(Services services, QObject* parent) : QObject(parent), services_(std::move(services)) {
    // Initial state, in the order the tray reads it; control once the injector exists (below).
    hasScreenRecording_ = services_.canReadScreen();
    if (services_.displays) {
        displays_ = services_.displays->list();
        layout_ = services_.displays->layout();
    }
    activeDisplay_ = mainDisplay();
    addresses_ = services_.addresses();
    if (services_.settings) {
        followWindows_ = hostsettings::followWindows(*services_.settings);
    }

    catalog_ = std::make_shared<AppCatalog>(services_.workspace);
    follower_ = std::make_shared<WindowFollower>(
        services_.windows, [this] { return layout_; }, services_.uptimeSeconds, getpid());

    input_ = std::make_shared<InjectorInput>();
    hasAccessibility_ = services_.canInject() && makeInjector();

    HostSession::Parts parts{services_.main,
                             services_.server,
                             services_.encoder,
                             StreamerFrames::create(services_.streamer, services_.unsupportedSession),
                             input_,
                             std::make_shared<CatalogApplications>(catalog_)};
    session_ =
        HostSession::create(std::move(parts), {services_.hostName(), displays_, activeDisplay_, hasAccessibility_});

    // Session observers run on the main thread and die with the session, which dies with us.
    session_->onListening = [this](std::optional<std::uint16_t> port) {
        if (!port) {
            diagnosticLog().error("the host cannot listen: no phone can connect until sharing is switched off and on");
        }
        port_ = port;
        Q_EMIT portChanged();
        Q_EMIT pairingChanged();
        Q_EMIT changed();
    };
    session_->onClientChanged = [this](const std::optional<std::string>& name) { clientChanged(name); };
    session_->onDisplayRequested = [this](std::uint32_t display) { select(display); };
    session_->onCaptureStatus = [this](const FrameSource::Failure& failure) { setCaptureError(failure); };
    session_->onDisplayGone = [this](std::uint32_t gone) { showAnotherDisplay(gone); };

    if (services_.unsupportedSession) {
        setCaptureError(services_.unsupportedSession);
    }
    // The keyring may first ask the user to unlock it: the tray comes up meanwhile, showing the
    // host starting, and the server starts once the key is there.
    keyWorker_ = KeyStoreWorker::create(services_.keys, services_.main);
    keyWorker_->load([this](PairingKey key) { keyLoaded(std::move(key)); });
    publishWelcome();

    refreshTimer_.setInterval(refreshMillis);
    connect(&refreshTimer_, &QTimer::timeout, this, [this] { refresh(); });
    refreshTimer_.start();
    pointerTimer_.setInterval(pointerMillis);
    connect(&pointerTimer_, &QTimer::timeout, this, [this] { reportPointer(); });
    followTimer_.setInterval(followMillis);
    connect(&followTimer_, &QTimer::timeout, this, [this] { followNewWindows(); });
}

AppModel::~AppModel() {
    keyWorker_->stop();
    refreshTimer_.stop();
    pointerTimer_.stop();
    followTimer_.stop();
    session_->stopAndWait();
    if (keepingAwake_) {
        services_.keepAwake->release();
    }
}

bool AppModel::makeInjector() {
    // A failure (no keymap, no XKB) is tried again at the next refresh; until then the phone is
    // told it cannot control.
    if (injector_) {
        return true;
    }
    // The injector reads the bounds the model keeps (refreshed every 3 seconds), never the display
    // server, so placing a pointer event costs no round trip.
    injector_ = services_.makeInjector([this](std::uint32_t display) { return boundsOf(display); }, activeDisplay_);
    if (!injector_) {
        return false;
    }
    injector_->onClick = [follower = follower_, uptime = services_.uptimeSeconds] {
        follower->lastPhoneClick = uptime();
    };
    input_->setInjector(injector_);
    return true;
}

std::uint32_t AppModel::mainDisplay() const {
    if (services_.displays) {
        if (const auto primary = services_.displays->primary()) {
            return *primary;
        }
    }
    return displays_.empty() ? 0 : displays_.front().id;
}

std::optional<Rect> AppModel::boundsOf(std::uint32_t display) const {
    const auto found = std::find_if(layout_.begin(), layout_.end(),
                                    [display](const DisplayBounds& entry) { return entry.id == display; });
    if (found == layout_.end()) {
        return std::nullopt;
    }
    return found->bounds;
}

std::optional<std::string> AppModel::pairingURL() const {
    if (!port_ || addresses_.empty()) {
        return std::nullopt;
    }
    return PairingInfo{session_->description().hostName, *port_, addresses_, key_.key}.url();
}

void AppModel::setSharingEnabled(bool enabled) {
    sharingEnabled_ = enabled;
    Q_EMIT sharingEnabledChanged();
    runSharingStep();
    Q_EMIT changed();
}

void AppModel::runSharingStep() {
    if (sharingEnabled_) {
        if (!key_.key.empty()) {  // else it starts when the key comes
            session_->start(key_.key, preferredPort);
        }
        return;
    }
    session_->stopListening();
    port_.reset();
    Q_EMIT portChanged();
    Q_EMIT pairingChanged();
}

void AppModel::setShowCode(bool show) {
    showCode_ = show;
    Q_EMIT showCodeChanged();
    Q_EMIT changed();
}

void AppModel::setFollowWindows(bool follow) {
    followWindows_ = follow;
    Q_EMIT followWindowsChanged();
    Q_EMIT changed();
    if (services_.settings) {
        hostsettings::setFollowWindows(*services_.settings, follow);
    }
}

void AppModel::setCaptureError(std::optional<std::string> error) {
    if (captureError_ == error) {
        return;
    }
    captureError_ = std::move(error);
    Q_EMIT captureErrorChanged();
    Q_EMIT changed();
}

void AppModel::describeToSession() {
    lastPublishedControl_ = hasAccessibility_;
    session_->setCanControl(hasAccessibility_);
    session_->setDisplays(displays_);
}

void AppModel::publishWelcome() {
    describeToSession();
    session_->publishWelcome();
}

void AppModel::centrePointerIfOutside(std::uint32_t display) {
    const auto bounds = boundsOf(display);
    if (!bounds || bounds->isEmpty() || !injector_) {
        return;
    }
    const auto pointer = services_.pointerLocation().value_or(Point{});
    if (!bounds->contains(pointer)) {
        injector_->movePointer(bounds->centre());
    }
}

void AppModel::clientChanged(const std::optional<std::string>& name) {
    // The session has already started or stopped the capture and released the input.
    clientName_ = name;
    pointerTimer_.stop();
    followTimer_.stop();
    if (name) {
        centrePointerIfOutside(activeDisplay_);
        follower_->primed = false;
        followTimer_.start();
        pointerTimer_.start();
        if (!keepingAwake_) {
            services_.keepAwake->hold(keepAwakeReason);
            keepingAwake_ = true;
        }
    } else if (keepingAwake_) {
        services_.keepAwake->release();
        keepingAwake_ = false;
    }
    Q_EMIT clientNameChanged();
    Q_EMIT changed();
}

void AppModel::select(std::uint32_t display, std::optional<Point> pointer) {
    if (std::none_of(displays_.begin(), displays_.end(),
                     [display](const auto& entry) { return entry.id == display; })) {
        return;
    }
    if (display == activeDisplay_) {
        return;
    }
    follower_->primed = false;
    activate(display);
    if (clientName_ && injector_) {
        if (pointer) {
            injector_->movePointer(*pointer);
        } else {
            centrePointerIfOutside(display);
        }
    }
}

void AppModel::keyLoaded(PairingKey key) {
    // A key for this run only is logged by the key store, once.
    key_ = std::move(key);
    runSharingStep();
    Q_EMIT pairingChanged();
    Q_EMIT changed();
}

void AppModel::rotateKey() {
    keyWorker_->rotate([this](PairingKey fresh) { keyRotated(std::move(fresh)); });
}

void AppModel::keyRotated(PairingKey fresh) {
    keyError_ = rotationRefusal(key_, fresh);
    if (keyError_) {
        diagnosticLog().warn(
            "kept the pairing key: the new one could not be stored ({}), and the next start would bring the old one "
            "back",
            fresh.reason);
    } else {
        key_ = std::move(fresh);
        ++pairingRevision_;
        diagnosticLog().info("the pairing key was replaced: every phone paired before must scan the new link");
        runSharingStep();
    }
    Q_EMIT pairingChanged();
    Q_EMIT changed();
}

void AppModel::disconnectClient() {
    session_->disconnectClient();
}

void AppModel::refresh() {
    if (clientName_) {
        session_->offerApplications();
    }
    const bool screen = services_.canReadScreen();
    // Control needs both: the display takes synthetic input, and the injector could be made.
    const bool control = services_.canInject() && makeInjector();
    if (screen != hasScreenRecording_ || control != hasAccessibility_) {
        hasScreenRecording_ = screen;
        hasAccessibility_ = control;
        Q_EMIT permissionsChanged();
        Q_EMIT changed();
    }
    auto addresses = services_.addresses();
    if (addresses != addresses_) {
        addresses_ = std::move(addresses);
        Q_EMIT addressesChanged();
        Q_EMIT pairingChanged();
        Q_EMIT changed();
    }

    // A renamed computer shows its new name on the phone and in the link.
    bool republish = false;
    if (auto name = services_.hostName(); name != session_->description().hostName) {
        session_->setHostName(std::move(name));
        republish = true;
        Q_EMIT pairingChanged();
        Q_EMIT changed();
    }

    if (!readDisplays()) {
        if (republish || hasAccessibility_ != lastPublishedControl_) {
            publishWelcome();
        }
        return;
    }
    if (std::any_of(displays_.begin(), displays_.end(),
                    [this](const auto& entry) { return entry.id == activeDisplay_; })) {
        publishWelcome();
        return;
    }
    // The active display is gone: back to the main one, on the phone too.
    diagnosticLog().info("display {} is gone; showing the main display", activeDisplay_);
    activate(mainDisplay());
}

bool AppModel::readDisplays() {
    auto list = services_.displays ? services_.displays->list() : std::vector<DisplayInfo>{};
    layout_ = services_.displays ? services_.displays->layout() : std::vector<DisplayBounds>{};
    if (list == displays_) {
        return false;
    }
    displays_ = std::move(list);
    Q_EMIT displaysChanged();
    Q_EMIT changed();
    return true;
}

void AppModel::activate(std::uint32_t display) {
    activeDisplay_ = display;
    if (injector_) {
        injector_->activeDisplay = activeDisplay_;
    }
    describeToSession();
    // Republishes the welcome and, with a phone connected, restarts the capture there with a key
    // frame; a display the list lacks still gets the welcome.
    if (!session_->selectDisplay(activeDisplay_)) {
        session_->publishWelcome();
    }
    Q_EMIT activeDisplayChanged();
    Q_EMIT changed();
}

void AppModel::showAnotherDisplay(std::uint32_t gone) {
    // The capture saw the monitor go before the 3-second refresh would: the phone stays and
    // watches the main display from now on, as it would after that refresh.
    readDisplays();
    auto next = mainDisplay();
    if (next == gone) {
        // The display server still lists it for a moment: any other will do.
        const auto other = std::find_if(displays_.begin(), displays_.end(),
                                        [gone](const DisplayInfo& entry) { return entry.id != gone; });
        if (other != displays_.end()) {
            next = other->id;
        }
    }
    follower_->primed = false;
    activate(next);
    centrePointerIfOutside(activeDisplay_);
}

void AppModel::reportPointer() {
    // Also for a phone that only watches: it draws the pointer where the desk's mouse is.
    const auto pointer = services_.pointerLocation();
    const auto bounds = boundsOf(activeDisplay_);
    if (!pointer || !bounds || !bounds->contains(*pointer)) {
        return;
    }
    services_.server->send(
        PointerPosition{(pointer->x - bounds->minX()) / bounds->width, (pointer->y - bounds->minY()) / bounds->height});
}

void AppModel::followNewWindows() {
    if (!followWindows_ || displays_.size() < 2) {
        follower_->primed = false;
        return;
    }
    if (const auto decision = follower_->check(activeDisplay_)) {
        diagnosticLog().debug("a new window on display {}: following it", decision->display);
        select(decision->display, decision->window.centre());
    }
}

void AppModel::shutDown(std::function<void()> stopped) {
    keyWorker_->stop();
    refreshTimer_.stop();
    pointerTimer_.stop();
    followTimer_.stop();
    if (keepingAwake_) {
        services_.keepAwake->release();
        keepingAwake_ = false;
    }
    session_->stop([main = services_.main, stopped = std::move(stopped)]() mutable { main->post(std::move(stopped)); });
}

}  // namespace vantrel
