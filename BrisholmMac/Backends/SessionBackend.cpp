#include "Backends/SessionBackend.hpp"

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "Backends/gnome/GnomeBackend.hpp"
#include "Backends/wlroots/WlrootsBackend.hpp"
#include "Backends/x11/X11Backend.hpp"
#include "Capture/Displays.hpp"
#include "Capture/ScreenCapturer.hpp"
#include "Input/InputDevice.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/SessionChecks.hpp"
#include "Platform/WindowList.hpp"
#include "Platform/desktop/DesktopWorkspace.hpp"
#include "Platform/desktop/SessionKeepAwake.hpp"

namespace vantrel {

namespace {

// Why no backend serves the session, as the panel shows it.
constexpr const char* waylandSession =
    "Dieser Wayland-Compositor bietet keine Schnittstellen zur Bildschirmaufnahme und Eingabe, die "
    "unterstützt werden (unterstützt: X11-Sitzungen, GNOME sowie sway und andere wlroots-Compositoren): bitte "
    "mit einer solchen Sitzung anmelden.";
constexpr const char* waylandSilent = "Der Wayland-Compositor (WAYLAND_DISPLAY) antwortet nicht.";
constexpr const char* noXDisplay =
    "Kein X11-Bildschirm erreichbar (DISPLAY). Bisher werden nur X11-, GNOME- und wlroots-Sitzungen unterstützt.";

bool isGnomeDesktop(const SessionFacts& facts) {
    // A list such as "ubuntu:GNOME".
    std::size_t from = 0;
    while (from <= facts.currentDesktop.size()) {
        const auto colon = std::min(facts.currentDesktop.find(':', from), facts.currentDesktop.size());
        if (facts.currentDesktop.compare(from, colon - from, "GNOME") == 0) {
            return true;
        }
        from = colon + 1;
    }
    return false;
}

bool isWaylandSession(const SessionFacts& facts) {
    return facts.sessionType == "wayland" ||
           (facts.sessionType.empty() && !facts.waylandDisplay.empty() && !facts.xDisplayAnswers);
}

// The interfaces of required the compositor does not offer.
std::vector<std::string> missing(const std::vector<std::string>& required, const std::vector<std::string>& offered) {
    std::vector<std::string> absent;
    for (const auto& interface : required) {
        if (std::find(offered.begin(), offered.end(), interface) == offered.end()) {
            absent.push_back(interface);
        }
    }
    return absent;
}

std::string joined(const std::vector<std::string>& words) {
    std::string text;
    for (const auto& word : words) {
        text += (text.empty() ? "" : ", ") + word;
    }
    return text;
}

BackendChoice chooseWaylandBackend(const SessionFacts& facts) {
    if (facts.gnomeRemoteDesktop) {
        return {BackendKind::waylandGnome, "the session bus offers GNOME's screen cast and remote desktop"};
    }
    if (isGnomeDesktop(facts) && facts.portalRemoteDesktop) {
        // The user must approve at the computer, but the phone is served.
        return {BackendKind::waylandGnomePortal,
                "GNOME's own screen cast and remote desktop are missing; the desktop portal offers them with the "
                "user's approval"};
    }
    if (!facts.waylandInterfaces) {
        return {std::nullopt, waylandSilent};
    }
    const auto& required = wlrootsRequiredInterfaces();
    const auto absent = missing(required, *facts.waylandInterfaces);
    if (absent.empty()) {
        return {BackendKind::wlroots, "the compositor on " + facts.waylandDisplay + " offers " + joined(required)};
    }
    if (absent.size() < required.size()) {
        // A wlroots compositor without one of them (switched off, or too old): say which.
        return {std::nullopt, "Dem Wayland-Compositor fehlt, was die Fernsteuerung braucht: " + joined(absent) + "."};
    }
    return {std::nullopt, waylandSession};
}

std::string environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The facts in a log line's words.
std::string described(const SessionFacts& facts) {
    const auto shown = [](const std::string& value) { return value.empty() ? std::string("unset") : value; };
    return "XDG_SESSION_TYPE=" + shown(facts.sessionType) + ", WAYLAND_DISPLAY=" + shown(facts.waylandDisplay) +
           ", DISPLAY=" + shown(facts.display) + ", XDG_CURRENT_DESKTOP=" + shown(facts.currentDesktop);
}

// Session parts that answer nothing, for a session no backend serves.
class NoWindows final : public WindowList {
public:
    std::optional<std::vector<Window>> windows() override { return std::vector<Window>{}; }
    FrontApplication frontApplication() override { return {}; }
    std::optional<std::string> fileBrowserId() override { return std::nullopt; }
};

class NoSessionChecks final : public SessionChecks {
public:
    bool screenReadable() override { return false; }
    bool offersSyntheticInput() override { return false; }
    std::optional<Point> pointerLocation() override { return std::nullopt; }
};

std::shared_ptr<Workspace> genericWorkspace() {
    return std::make_shared<desktop::DesktopWorkspace>(desktop::IconRenderer::createQt(), nullptr);
}

DesktopBackend unsupportedBackend(std::string reason) {
    DesktopBackend backend;
    backend.name = "none";
    backend.unsupported = std::move(reason);
    backend.makeCapturer = [] { return std::unique_ptr<ScreenCapturer>(); };
    backend.openInputDevice = [] { return std::shared_ptr<InputDevice>(); };
    backend.windows = std::make_shared<NoWindows>();
    backend.workspace = genericWorkspace();
    backend.checks = std::make_shared<NoSessionChecks>();
    backend.keepAwake = desktop::makeSessionKeepAwake();
    return backend;
}

DesktopBackend make(BackendKind kind) {
    switch (kind) {
        case BackendKind::x11: return makeX11Backend();
        case BackendKind::wlroots: return makeWlrootsBackend();
        case BackendKind::waylandGnome: return makeGnomeBackend();
        case BackendKind::waylandGnomePortal: return makeGnomeBackend(GnomeRoute::portal);
    }
    return unsupportedBackend(noXDisplay);
}

}  // namespace

const char* backendName(BackendKind kind) {
    switch (kind) {
        case BackendKind::x11: return "x11";
        case BackendKind::wlroots: return "wlroots";
        case BackendKind::waylandGnome: return "wayland-gnome";
        case BackendKind::waylandGnomePortal: return "wayland-gnome-portal";
    }
    return "unknown";
}

BackendChoice chooseBackend(const SessionFacts& facts) {
    if (isWaylandSession(facts)) {
        return chooseWaylandBackend(facts);
    }
    if (facts.xDisplayAnswers) {
        return {BackendKind::x11, "the X display " + facts.display + " answers"};
    }
    return {std::nullopt, noXDisplay};
}

SessionFacts readSessionFacts() {
    SessionFacts facts;
    facts.sessionType = environment("XDG_SESSION_TYPE");
    facts.waylandDisplay = environment("WAYLAND_DISPLAY");
    facts.display = environment("DISPLAY");
    facts.currentDesktop = environment("XDG_CURRENT_DESKTOP");
    facts.xDisplayAnswers = !facts.display.empty() && x11DisplayAnswers();
    if (!facts.waylandDisplay.empty()) {
        facts.waylandInterfaces = waylandInterfacesOffered();
    }
    const bool wayland = facts.sessionType == "wayland" || !facts.waylandDisplay.empty();
    facts.gnomeRemoteDesktop = wayland && gnomeRemoteDesktopAnswers();
    // Asked only where it may serve: the question starts the portal.
    facts.portalRemoteDesktop =
        wayland && !facts.gnomeRemoteDesktop && isGnomeDesktop(facts) && portalRemoteDesktopAnswers();
    return facts;
}

DesktopBackend makeDesktopBackend() {
    const auto facts = readSessionFacts();
    const auto choice = chooseBackend(facts);
    if (!choice.kind) {
        diagnosticLog().warn("desktop backend: none serves this session ({}): {}", described(facts), choice.reason);
        return unsupportedBackend(choice.reason);
    }
    diagnosticLog().info("desktop backend: {} ({}; {})", backendName(*choice.kind), choice.reason, described(facts));
    return make(*choice.kind);
}

std::shared_ptr<Workspace> makeSessionWorkspace() {
    const auto facts = readSessionFacts();
    const auto choice = chooseBackend(facts);
    diagnosticLog().debug("applications from the desktop backend {} ({})",
                          choice.kind ? backendName(*choice.kind) : "none", choice.reason);
    return choice.kind ? make(*choice.kind).workspace : genericWorkspace();
}

}  // namespace vantrel
