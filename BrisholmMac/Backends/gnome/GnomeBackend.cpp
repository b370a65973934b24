#include "Backends/gnome/GnomeBackend.hpp"

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Backends/gnome/DBusCall.hpp"
#include "Backends/gnome/DisplayConfig.hpp"
#include "Backends/gnome/GnomeInput.hpp"
#include "Backends/gnome/PipeWireCapturer.hpp"
#include "Backends/gnome/PortalSession.hpp"
#include "Backends/gnome/RemoteSession.hpp"
#include "Backends/gnome/SessionManagerHold.hpp"
#include "Capture/ScreenCapturer.hpp"
#include "Input/InputDevice.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/CredentialStore.hpp"
#include "Platform/SessionChecks.hpp"
#include "Platform/WindowList.hpp"
#include "Platform/desktop/DesktopWorkspace.hpp"
#include "Platform/desktop/ProcessWindows.hpp"
#include "Platform/desktop/SessionKeepAwake.hpp"

namespace vantrel {

namespace {

using gnome::GDBusConnectionPtr;

// GNOME on Wayland shows no program the windows of others, so there is no list to follow: the
// list cannot be read (the backend also says it follows no windows, so the host never asks).
class NoWindowList final : public WindowList {
public:
    std::optional<std::vector<Window>> windows() override { return std::nullopt; }
    FrontApplication frontApplication() override { return {}; }
    std::optional<std::string> fileBrowserId() override { return std::nullopt; }
};

// The screen can be read while the screen cast service answers, the session takes synthetic input
// while the remote desktop service does; where the pointer is, Wayland tells no one.
class GnomeSessionChecks final : public SessionChecks {
public:
    explicit GnomeSessionChecks(GDBusConnectionPtr bus) : bus_(std::move(bus)) {}

    bool screenReadable() override { return bus_ && gnome::nameHasOwner(bus_.get(), gnome::screenCastService); }
    bool offersSyntheticInput() override {
        return bus_ && gnome::nameHasOwner(bus_.get(), gnome::remoteDesktopService);
    }
    std::optional<Point> pointerLocation() override { return std::nullopt; }

private:
    GDBusConnectionPtr bus_;
};

// Whether the desktop portal (started on demand) offers interface.
bool portalAnswers(GDBusConnection* bus, const char* interface) {
    std::string error;
    const bool answers =
        gnome::startedProperty(bus, gnome::portalService, gnome::portalPath, interface, "version", error) != nullptr;
    if (!answers) {
        diagnosticLog().debug("gnome: the desktop portal offers no {}: {}", interface, error);
    }
    return answers;
}

// The session checks through the desktop portal: its two interfaces answer.
class PortalSessionChecks final : public SessionChecks {
public:
    explicit PortalSessionChecks(GDBusConnectionPtr bus) : bus_(std::move(bus)) {}

    bool screenReadable() override { return bus_ && portalAnswers(bus_.get(), gnome::portalScreenCast); }
    bool offersSyntheticInput() override { return bus_ && portalAnswers(bus_.get(), gnome::portalRemoteDesktop); }
    std::optional<Point> pointerLocation() override { return std::nullopt; }

private:
    GDBusConnectionPtr bus_;
};

}  // namespace

DesktopBackend makeGnomeBackend(GnomeRoute route) {
    const bool portal = route == GnomeRoute::portal;
    DesktopBackend backend;
    backend.name = portal ? "wayland-gnome-portal" : "wayland-gnome";
    backend.displays = gnome::makeGnomeDisplays();
    gnome::SessionBroker::Options options;
    options.portal = portal;
    options.portalOptions.tokens =
        std::make_shared<gnome::RestoreTokens>(std::shared_ptr<CredentialStore>(CredentialStore::create()));
    const auto sessions = std::make_shared<gnome::SessionBroker>(std::move(options));
    backend.makeCapturer = [sessions] { return gnome::makePipeWireCapturer(sessions); };
    backend.openInputDevice = [sessions] { return gnome::openGnomeInputDevice(sessions); };
    backend.windows = std::make_shared<NoWindowList>();
    backend.followsWindows = false;
    backend.noFollowingReason =
        "Unter GNOME auf Wayland sieht Vantrel die Fenster anderer Programme nicht: Neuen Fenstern folgen ist hier "
        "aus.";
    if (portal) {
        // The one line the panel shows for this backend whatever the phone does: the user at the
        // computer must know what the dialogs are about.
        backend.noFollowingReason +=
            " GNOME fragt am Computer nach der Freigabe: Beim ersten Telefon dort die Bildschirmfreigabe "
            "bestätigen (das gilt auch für später). Für die Bedienung fragt GNOME bei jeder Verbindung neu: "
            "dort die entfernte Interaktion einschalten und freigeben, bis dahin kann das Telefon nur zusehen.";
    }
    backend.workspace = std::make_shared<desktop::DesktopWorkspace>(desktop::IconRenderer::createQt(),
                                                                    std::make_shared<desktop::ProcessWindows>());
    if (portal) {
        backend.checks = std::make_shared<PortalSessionChecks>(gnome::sessionBus());
    } else {
        backend.checks = std::make_shared<GnomeSessionChecks>(gnome::sessionBus());
    }
    backend.keepAwake = desktop::makeSessionKeepAwake(gnome::makeSessionManagerHold());
    return backend;
}

GnomeServices gnomeServices() {
    const auto bus = gnome::sessionBus();
    if (!bus) {
        return {};
    }
    return {gnome::nameHasOwner(bus.get(), gnome::screenCastService),
            gnome::nameHasOwner(bus.get(), gnome::remoteDesktopService)};
}

bool portalRemoteDesktopAnswers() {
    const auto bus = gnome::sessionBus();
    return bus && portalAnswers(bus.get(), gnome::portalRemoteDesktop);
}

bool gnomeRemoteDesktopAnswers() {
    const auto services = gnomeServices();
    return services.screenCast && services.remoteDesktop;
}

}  // namespace vantrel
