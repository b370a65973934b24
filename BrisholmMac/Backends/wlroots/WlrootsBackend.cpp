#include "Backends/wlroots/WlrootsBackend.hpp"

#include <unistd.h>

#include <memory>

#include "Backends/wlroots/MainConnection.hpp"
#include "Backends/wlroots/WlrootsDisplays.hpp"
#include "Backends/wlroots/WlrootsInputDevice.hpp"
#include "Backends/wlroots/WlrootsScreenCapturer.hpp"
#include "Backends/wlroots/WlrootsSessionChecks.hpp"
#include "Backends/wlroots/WlrootsWindows.hpp"
#include "Capture/ScreenCapturer.hpp"
#include "Input/InputDevice.hpp"
#include "Platform/desktop/DesktopWorkspace.hpp"
#include "Platform/desktop/SessionKeepAwake.hpp"

namespace vantrel {

const std::vector<std::string>& wlrootsRequiredInterfaces() {
    static const std::vector<std::string> required = {"zwlr_screencopy_manager_v1", "zwlr_virtual_pointer_manager_v1",
                                                      "zwp_virtual_keyboard_manager_v1"};
    return required;
}

std::optional<std::vector<std::string>> waylandInterfacesOffered() {
    return wayland::WaylandConnection::offeredInterfaces();
}

DesktopBackend makeWlrootsBackend() {
    auto connection = std::make_shared<wayland::MainConnection>();
    DesktopBackend backend;
    backend.name = "wlroots";
    backend.displays = std::make_shared<wayland::WlrootsDisplays>(connection);
    // On the capture queue: the capturer opens a connection of its own there.
    backend.makeCapturer = [] { return wayland::makeWlrootsCapturer(); };
    backend.openInputDevice = []() -> std::shared_ptr<InputDevice> { return WlrootsInputDevice::open(); };
    backend.windows = std::make_shared<wayland::WlrootsWindowList>(connection, ::getpid());
    backend.workspace = std::make_shared<desktop::DesktopWorkspace>(
        desktop::IconRenderer::createQt(), std::make_shared<wayland::WlrootsRunningWindows>(connection));
    backend.checks = std::make_shared<wayland::WlrootsSessionChecks>(connection);
    // logind's idle inhibitor and the session's screen saver over D-Bus: a Wayland idle inhibitor
    // would need a visible surface of ours.
    backend.keepAwake = desktop::makeSessionKeepAwake();
    return backend;
}

}  // namespace vantrel
