#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Backends/DesktopBackend.hpp"
#include "CaptureHarness.hpp"
#include "FakeDesktop.hpp"
#include "FakeDisplays.hpp"
#include "FakeInputDevice.hpp"
#include "FakeSessionChecks.hpp"
#include "FakeWindowList.hpp"

namespace vantrel::testing {

// A whole desktop session made of fakes, as the desktop host sees one through its backend: the
// monitors, a screen behind them that the capture reads, a recording input device, the windows,
// the session's answers and a counting keep-awake hold. Tests change the pieces they look at and
// hand backend() to the host.
struct FakeDesktopSession {
    std::shared_ptr<FakeScreen> screen = std::make_shared<FakeScreen>();
    std::shared_ptr<FakeDisplays> displays = std::make_shared<FakeDisplays>();
    std::shared_ptr<FakeInputDevice> device = std::make_shared<FakeInputDevice>();
    std::shared_ptr<FakeWindowList> windows = std::make_shared<FakeWindowList>();
    std::shared_ptr<FakeSessionChecks> checks = std::make_shared<FakeSessionChecks>();
    std::shared_ptr<CountingKeepAwake> keepAwake = std::make_shared<CountingKeepAwake>();
    // Whether the input device opens (a session that takes no synthetic input says no earlier).
    bool deviceOpens = true;
    std::optional<std::string> unsupported;
    // Whether the session shows other programs' windows; why not, when it does not.
    bool followsWindows = true;
    std::string noFollowingReason;

    FakeDesktopSession() {
        checks->pointer = [device = device] { return device->pointerLocation(); };
    }

    // The monitors, as the display server and the screen both report them.
    void setMonitors(const std::vector<MonitorFacts>& monitors) {
        displays->facts = monitors;
        screen->update([&](FakeScreen& fake) { fake.monitors = monitors; });
    }

    [[nodiscard]] DesktopBackend backend() {
        DesktopBackend backend;
        backend.name = "fake";
        backend.unsupported = unsupported;
        backend.followsWindows = followsWindows;
        backend.noFollowingReason = noFollowingReason;
        backend.displays = displays;
        backend.makeCapturer = fakeCapturers(screen);
        backend.openInputDevice = [this]() -> std::shared_ptr<InputDevice> { return deviceOpens ? device : nullptr; };
        backend.windows = windows;
        backend.workspace = std::make_shared<NoApplications>();
        backend.checks = checks;
        backend.keepAwake = keepAwake;
        return backend;
    }
};

}  // namespace vantrel::testing
