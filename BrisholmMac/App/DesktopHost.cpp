#include "App/DesktopHost.hpp"

#include <unistd.h>

#include <algorithm>
#include <cassert>

#include "App/AppCatalog.hpp"
#include "App/DesktopParts.hpp"
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
#include "Platform/SessionChecks.hpp"
#include "SyncServer.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {

using Change = DesktopChange;

std::shared_ptr<DesktopHost> DesktopHost::create(Services services) {
    std::shared_ptr<DesktopHost> host(new DesktopHost(std::move(services)));
    host->start();
    return host;
}

DesktopHost::DesktopHost(Services services)
    : services_(std::move(services)),
      refreshTask_(services_.main, refreshInterval, [this] { refresh(); }),
      pointerTask_(
          services_.main, pointerInterval, [this] { return reportPointer(); },
          [this] { return services_.backend.checks->pointerNews(); }),
      followTask_(services_.main, followInterval, [this] { followNewWindows(); }) {}

void DesktopHost::start() {
    checkThread();
    const auto& backend = services_.backend;
    // Initial state, in the order the tray reads it; control once the injector exists (below).
    hasScreenRecording_ = backend.checks->screenReadable();
    if (backend.displays) {
        displays_ = backend.displays->list();
        layout_ = backend.displays->layout();
    }
    addresses_ = services_.addresses();
    if (services_.loadFollowWindows) {
        followWindows_ = services_.loadFollowWindows();
    }

    catalog_ = std::make_shared<AppCatalog>(backend.workspace);
    follower_ = std::make_shared<WindowFollower>(
        backend.windows, [this] { return layout_; }, services_.uptimeSeconds, getpid());

    input_ = std::make_shared<InjectorInput>();
    auto streamer = ScreenStreamer::create(services_.encoder, backend.makeCapturer);
    HostSession::Parts parts{services_.main,
                             services_.server,
                             services_.encoder,
                             StreamerFrames::create(std::move(streamer), backend.unsupported),
                             input_,
                             std::make_shared<CatalogApplications>(catalog_)};
    session_ = HostSession::create(std::move(parts), {services_.hostName(), displays_, mainDisplay(), false});
    if (services_.stages) {
        session_->measureStages(services_.stages);
    }
    hasAccessibility_ = backend.checks->offersSyntheticInput() && makeInjector();

    // Session observers run on the main queue and die with the session, which dies with us.
    session_->onListening = [this](std::optional<std::uint16_t> port) {
        if (!port) {
            diagnosticLog().error("the host cannot listen: no phone can connect until sharing is switched off and on");
        }
        port_ = port;
        notify({Change::port, Change::pairing});
    };
    session_->onClientChanged = [this](const std::optional<std::string>& name) { clientChanged(name); };
    session_->onDisplayRequested = [this](std::uint32_t display) { select(display); };
    session_->onCaptureStatus = [this](const FrameSource::Failure& failure) { setCaptureError(failure); };
    session_->onDisplayGone = [this](std::uint32_t gone) { showAnotherDisplay(gone); };

    if (backend.unsupported) {
        setCaptureError(backend.unsupported);
    }
    // The keyring may first ask the user to unlock it: the tray comes up meanwhile, showing the
    // host starting, and the server starts once the key is there.
    keyWorker_ = KeyStoreWorker::create(services_.keys, services_.main);
    keyWorker_->load([this](PairingKey key) { keyLoaded(std::move(key)); });
    publishWelcome();
    refreshTask_.start();
}

DesktopHost::~DesktopHost() {
    checkThread();
    keyWorker_->stop();
    stopPeriodicWork();
    session_->stopAndWait();
    holdAwake(false);
}

void DesktopHost::checkThread() const {
    assert(services_.main->isCurrent() && "the desktop host lives on the main queue");
}

void DesktopHost::notify(DesktopChanges changes) {
    if (onChanged && !changes.empty()) {
        onChanged(changes);
    }
}

bool DesktopHost::makeInjector() {
    // A failure (no keymap, no XKB) is tried again at the next refresh; until then the phone is
    // told it cannot control.
    if (injector_) {
        return true;
    }
    auto device = services_.backend.openInputDevice ? services_.backend.openInputDevice() : nullptr;
    if (!device) {
        return false;
    }
    // The injector reads the bounds the host keeps (refreshed every 3 seconds) of the display the
    // session shows, never the display server, so placing a pointer event costs no round trip.
    injector_ = std::make_shared<InputInjector>(std::move(device), [this] { return boundsOf(activeDisplay()); });
    injector_->onClick = [follower = follower_, uptime = services_.uptimeSeconds] {
        follower->lastPhoneClick = uptime();
    };
    input_->setInjector(injector_);
    return true;
}

std::uint32_t DesktopHost::activeDisplay() const {
    return session_->description().activeDisplay;
}

std::uint32_t DesktopHost::mainDisplay() const {
    if (services_.backend.displays) {
        if (const auto primary = services_.backend.displays->primary()) {
            return *primary;
        }
    }
    return displays_.empty() ? 0 : displays_.front().id;
}

std::optional<Rect> DesktopHost::boundsOf(std::uint32_t display) const {
    const auto found = std::find_if(layout_.begin(), layout_.end(),
                                    [display](const DisplayBounds& entry) { return entry.id == display; });
    if (found == layout_.end()) {
        return std::nullopt;
    }
    return found->bounds;
}

std::optional<std::string> DesktopHost::pairingURL() const {
    if (!port_ || addresses_.empty()) {
        return std::nullopt;
    }
    return PairingInfo{session_->description().hostName, *port_, addresses_, key_.key}.url();
}

void DesktopHost::setSharingEnabled(bool enabled) {
    checkThread();
    sharingEnabled_ = enabled;
    runSharingStep();
    notify({Change::sharing});
}

void DesktopHost::runSharingStep() {
    if (sharingEnabled_) {
        if (!key_.key.empty()) {  // else it starts when the key comes
            session_->start(key_.key, preferredPort);
        }
        return;
    }
    session_->stopListening();
    port_.reset();
    notify({Change::port, Change::pairing});
}

void DesktopHost::setShowCode(bool show) {
    checkThread();
    showCode_ = show;
    notify({Change::showCode});
}

void DesktopHost::setFollowWindows(bool follow) {
    checkThread();
    if (!canFollowWindows()) {
        return;
    }
    followWindows_ = follow;
    if (services_.saveFollowWindows) {
        services_.saveFollowWindows(follow);
    }
    notify({Change::followWindows});
}

void DesktopHost::setCaptureError(std::optional<std::string> error) {
    if (captureError_ == error) {
        return;
    }
    captureError_ = std::move(error);
    notify({Change::captureError});
}

void DesktopHost::describeToSession() {
    lastPublishedControl_ = hasAccessibility_;
    session_->setCanControl(hasAccessibility_);
    session_->setDisplays(displays_);
}

void DesktopHost::publishWelcome() {
    describeToSession();
    session_->publishWelcome();
}

void DesktopHost::centrePointerIfOutside(std::uint32_t display) {
    const auto bounds = boundsOf(display);
    if (!bounds || bounds->isEmpty() || !injector_) {
        return;
    }
    const auto pointer = services_.backend.checks->pointerLocation().value_or(Point{});
    if (!bounds->contains(pointer)) {
        injector_->movePointer(bounds->centre());
    }
}

void DesktopHost::holdAwake(bool hold) {
    if (hold == keepingAwake_) {
        return;
    }
    keepingAwake_ = hold;
    if (hold) {
        services_.backend.keepAwake->hold(keepAwakeReason);
    } else {
        services_.backend.keepAwake->release();
    }
}

void DesktopHost::clientChanged(const std::optional<std::string>& name) {
    // The session has already started or stopped the capture and released the input.
    clientName_ = name;
    pointerTask_.stop();
    followTask_.stop();
    if (name && !shutDown_) {
        centrePointerIfOutside(activeDisplay());
        if (canFollowWindows()) {
            follower_->primed = false;
            followTask_.start();
        }
        reportedPointer_.reset();  // a new phone hears of it at once
        pointerTask_.start();
    }
    holdAwake(name.has_value() && !shutDown_);
    notify({Change::client});
}

void DesktopHost::select(std::uint32_t display, std::optional<Point> pointer) {
    checkThread();
    if (std::none_of(displays_.begin(), displays_.end(),
                     [display](const auto& entry) { return entry.id == display; })) {
        return;
    }
    if (display == activeDisplay()) {
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

void DesktopHost::keyLoaded(PairingKey key) {
    // A key for this run only is logged by the key store, once.
    key_ = std::move(key);
    runSharingStep();
    notify({Change::pairing});
}

void DesktopHost::rotateKey() {
    checkThread();
    keyWorker_->rotate([this](PairingKey fresh) { keyRotated(std::move(fresh)); });
}

void DesktopHost::keyRotated(PairingKey fresh) {
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
    notify({Change::pairing});
}

void DesktopHost::disconnectClient() {
    checkThread();
    session_->disconnectClient();
}

void DesktopHost::refresh() {
    checkThread();
    if (clientName_) {
        session_->offerApplications();
    }
    auto& checks = *services_.backend.checks;
    const bool screen = checks.screenReadable();
    // Control needs both: the session takes synthetic input, and the injector could be made.
    const bool control = checks.offersSyntheticInput() && makeInjector();
    if (screen != hasScreenRecording_ || control != hasAccessibility_) {
        hasScreenRecording_ = screen;
        hasAccessibility_ = control;
        notify({Change::permissions});
    }
    auto addresses = services_.addresses();
    if (addresses != addresses_) {
        addresses_ = std::move(addresses);
        notify({Change::addresses, Change::pairing});
    }

    // A renamed computer shows its new name on the phone and in the link.
    bool republish = false;
    if (auto name = services_.hostName(); name != session_->description().hostName) {
        session_->setHostName(std::move(name));
        republish = true;
        notify({Change::pairing});
    }

    if (!readDisplays()) {
        if (republish || hasAccessibility_ != lastPublishedControl_) {
            publishWelcome();
        }
        return;
    }
    const auto active = activeDisplay();
    if (std::any_of(displays_.begin(), displays_.end(), [active](const auto& entry) { return entry.id == active; })) {
        publishWelcome();
        return;
    }
    // The active display is gone: back to the main one, on the phone too.
    diagnosticLog().info("display {} is gone; showing the main display", active);
    activate(mainDisplay());
}

bool DesktopHost::readDisplays() {
    const auto& displays = services_.backend.displays;
    auto list = displays ? displays->list() : std::vector<DisplayInfo>{};
    layout_ = displays ? displays->layout() : std::vector<DisplayBounds>{};
    if (list == displays_) {
        return false;
    }
    displays_ = std::move(list);
    notify({Change::displays});
    return true;
}

void DesktopHost::activate(std::uint32_t display) {
    describeToSession();
    // Republishes the welcome and, with a phone connected, restarts the capture there with a key
    // frame; a display the list lacks (none left) still gets the welcome.
    if (!session_->selectDisplay(display)) {
        session_->publishWelcome();
    }
    notify({Change::activeDisplay});
}

void DesktopHost::showAnotherDisplay(std::uint32_t gone) {
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
    centrePointerIfOutside(activeDisplay());
}

bool DesktopHost::reportPointer() {
    // Also for a phone that only watches: it draws the pointer where the desk's mouse is.
    const auto pointer = services_.backend.checks->pointerLocation();
    const bool moved = pointer != lookedPointer_;
    lookedPointer_ = pointer;
    const auto bounds = boundsOf(activeDisplay());
    if (!pointer || !bounds || !bounds->contains(*pointer)) {
        return moved;
    }
    const PointerPosition position{(pointer->x - bounds->minX()) / bounds->width,
                                   (pointer->y - bounds->minY()) / bounds->height};
    const auto now = std::chrono::steady_clock::now();
    if (reportedPointer_ && reportedPointer_->x == position.x && reportedPointer_->y == position.y &&
        now - pointerReportedAt_ < pointerRepeatInterval) {
        return moved;
    }
    reportedPointer_ = position;
    pointerReportedAt_ = now;
    services_.server->send(position);
    return moved;
}

void DesktopHost::followNewWindows() {
    if (!followWindows_ || displays_.size() < 2) {
        follower_->primed = false;
        return;
    }
    if (const auto decision = follower_->check(activeDisplay())) {
        diagnosticLog().debug("a new window on display {}: following it", decision->display);
        select(decision->display, decision->window.centre());
    }
}

void DesktopHost::stopPeriodicWork() {
    refreshTask_.stop();
    pointerTask_.stop();
    followTask_.stop();
}

void DesktopHost::shutDown(std::function<void()> stopped) {
    checkThread();
    shutDown_ = true;
    keyWorker_->stop();
    stopPeriodicWork();
    holdAwake(false);
    session_->stop([main = services_.main, stopped = std::move(stopped)]() mutable { main->post(std::move(stopped)); });
}

}  // namespace vantrel
