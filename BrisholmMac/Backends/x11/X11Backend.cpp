#include "Backends/x11/X11Backend.hpp"

#include <xcb/screensaver.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <memory>
#include <unordered_set>
#include <utility>

#include "Backends/x11/EwmhWindowList.hpp"
#include "Backends/x11/X11Connection.hpp"
#include "Backends/x11/X11Displays.hpp"
#include "Backends/x11/X11InputDevice.hpp"
#include "Backends/x11/X11ScreenCapturer.hpp"
#include "Backends/x11/X11SessionChecks.hpp"
#include "Backends/x11/X11Windows.hpp"
#include "Log/DiagnosticLog.hpp"
#include "Platform/desktop/DesktopWorkspace.hpp"
#include "Platform/desktop/SessionKeepAwake.hpp"

namespace vantrel {

namespace {

using x11::SharedConnection;

// The workspace's running windows: the window manager's client list on the shared connection.
class X11RunningWindows final : public desktop::RunningWindows {
public:
    explicit X11RunningWindows(std::shared_ptr<SharedConnection> shared) : shared_(std::move(shared)) {}

    std::vector<desktop::WindowFacts> clientWindows() override {
        desktop::X11Windows* const x11 = desktop::X11Windows::on(*shared_, windows_);
        return x11 != nullptr ? x11->clientWindows() : std::vector<desktop::WindowFacts>{};
    }

    bool activateFrontmost(const std::unordered_set<std::uint32_t>& windows) override {
        desktop::X11Windows* const x11 = desktop::X11Windows::on(*shared_, windows_);
        if (x11 == nullptr || windows.empty()) {
            return false;
        }
        const auto stacking = x11->stackingFrontToBack();
        const auto front = std::find_if(stacking.begin(), stacking.end(),
                                        [&](std::uint32_t window) { return windows.contains(window); });
        x11->activate(front != stacking.end() ? *front : *windows.begin());
        return true;
    }

private:
    std::shared_ptr<SharedConnection> shared_;
    std::unique_ptr<desktop::X11Windows> windows_;
};

// The X11 part of the keep-awake hold: the X screen saver suspended. The suspension belongs to
// the connection that asked for it and ends with it, so it is taken back on the same one.
class X11ScreenSaverHold final : public KeepAwake {
public:
    explicit X11ScreenSaverHold(std::shared_ptr<SharedConnection> shared) : shared_(std::move(shared)) {}

    void hold(const std::string& /*reason*/) override {
        suspended_ = shared_->reopened();
        if (!suspended_) {
            diagnosticLog().info("no X display, so no X screen saver to suspend");
            return;
        }
        xcb_screensaver_suspend(suspended_->get(), 1);
        xcb_flush(suspended_->get());
    }

    void release() override {
        if (const auto connection = std::exchange(suspended_, nullptr)) {
            xcb_screensaver_suspend(connection->get(), 0);
            xcb_flush(connection->get());
        }
    }

private:
    std::shared_ptr<SharedConnection> shared_;
    std::shared_ptr<x11::X11Connection> suspended_;
};

}  // namespace

DesktopBackend makeX11Backend(const std::optional<std::string>& displayName) {
    const auto shared = std::make_shared<SharedConnection>(displayName);
    DesktopBackend backend;
    backend.name = "x11";
    backend.displays = x11::makeX11Displays(shared);
    backend.makeCapturer = [displayName] { return x11::makeX11Capturer(displayName); };
    backend.openInputDevice = [shared]() -> std::shared_ptr<InputDevice> {
        return X11InputDevice::open(shared->reopened());
    };
    backend.windows = std::make_shared<desktop::EwmhWindowList>(shared);
    backend.workspace = std::make_shared<desktop::DesktopWorkspace>(desktop::IconRenderer::createQt(),
                                                                    std::make_shared<X11RunningWindows>(shared));
    backend.checks = std::make_shared<x11::X11SessionChecks>(shared);
    backend.keepAwake = desktop::makeSessionKeepAwake(std::make_shared<X11ScreenSaverHold>(shared));
    return backend;
}

bool x11DisplayAnswers(const std::optional<std::string>& displayName) {
    return x11::X11Connection::tryOpen("x11", displayName).connection != nullptr;
}

}  // namespace vantrel
