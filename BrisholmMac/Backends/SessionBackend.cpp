#include "Backends/SessionBackend.hpp"

#include <cstdlib>
#include <utility>
#include <vector>

#include "Backends/gnome/GnomeBackend.hpp"
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
    "Diese Sitzung ist eine Wayland-Sitzung. Bisher werden nur X11-Sitzungen unterstützt: bitte mit einer "
    "X11-Sitzung anmelden.";
constexpr const char* noXDisplay =
    "Kein X11-Bildschirm erreichbar (DISPLAY). Bisher werden nur X11-Sitzungen unterstützt.";

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
        case BackendKind::waylandGnome: return makeGnomeBackend();
    }
    return unsupportedBackend(noXDisplay);
}

}  // namespace

const char* backendName(BackendKind kind) {
    switch (kind) {
        case BackendKind::x11: return "x11";
        case BackendKind::waylandGnome: return "wayland-gnome";
    }
    return "unknown";
}

BackendChoice chooseBackend(const SessionFacts& facts) {
    if (facts.sessionType == "wayland") {
        if (facts.gnomeRemoteDesktop) {
            return {BackendKind::waylandGnome, "the session bus offers GNOME's screen cast and remote desktop"};
        }
        return {std::nullopt, waylandSession};
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
    facts.gnomeRemoteDesktop = facts.sessionType == "wayland" && gnomeRemoteDesktopAnswers();
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
