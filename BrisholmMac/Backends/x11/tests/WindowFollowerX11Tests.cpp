// Against a real X server with openbox and two monitors side by side (scripts/test-session.sh:
// L at 0,0 and R at 1920,0, 1920x1080 each): the follower over the EWMH window list sees what the
// window manager shows, where it shows it, and who is in front.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>

#include "Backends/x11/X11Backend.hpp"
#include "Backends/x11/tests/WindowMaker.hpp"
#include "Input/WindowFollower.hpp"
#include "Input/tests/Printing.hpp"
#include "Platform/WindowList.hpp"
#include "Platform/desktop/tests/DesktopFixture.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using desktop::testing::WindowMaker;
using vantrel::testing::waitUntil;

constexpr std::uint32_t leftMonitor = 1;
constexpr std::uint32_t rightMonitor = 2;
constexpr std::uint32_t otherProcess = 0x7ffffff0;  // names an owner that is not the host

class WindowFollowerX11Test : public ::testing::Test {
protected:
    void SetUp() override {
        if (const auto reason = maker_.unusable()) {
            GTEST_SKIP() << *reason;
        }
    }

    // Makes a window, brings it to the front and waits until the window list shows it there.
    std::uint32_t show(const WindowMaker::Spec& spec) {
        const auto window = maker_.make(spec);
        maker_.activate(window);
        const bool shown = waitUntil(
            [&] {
                const auto windows = list_->windows().value_or(std::vector<WindowList::Window>{});
                return maker_.activeWindow() == window &&
                       std::any_of(windows.begin(), windows.end(), [&](const auto& w) { return w.id == window; });
            },
            10s);
        EXPECT_TRUE(shown) << "window " << window << " never showed in front";
        return window;
    }

    WindowMaker maker_;
    std::shared_ptr<WindowList> list_ = makeX11Backend().windows;
    WindowFollower follower_{
        list_,
        [] {
            return std::vector<DisplayBounds>{{leftMonitor, {0, 0, 1920, 1080}}, {rightMonitor, {1920, 0, 1920, 1080}}};
        },
        [] { return 1000.0; }, ::getpid()};
};

TEST_F(WindowFollowerX11Test, FollowsANewWindowOnTheOtherMonitorOnceButNeverOneOfTheHost) {
    show({.wmClass = "Resident", .x = 2100, .y = 200, .width = 500, .height = 400, .pid = otherProcess});
    EXPECT_EQ(follower_.check(leftMonitor), std::nullopt) << "priming only records";
    EXPECT_EQ(follower_.check(leftMonitor), std::nullopt) << "a window there at priming never counts";

    const auto fresh =
        show({.wmClass = "Newcomer", .x = 2300, .y = 300, .width = 640, .height = 480, .pid = otherProcess});
    // The frame openbox drew, decorations included, as the window manager's own window shows it.
    EXPECT_EQ(follower_.check(leftMonitor), (FollowDecision{rightMonitor, maker_.outline(fresh).value_or(Rect{})}));
    EXPECT_EQ(follower_.check(leftMonitor), std::nullopt) << "once only";

    show({.wmClass = "Host", .x = 2400, .y = 400, .width = 640, .height = 480, .pid = std::uint32_t(::getpid())});
    EXPECT_EQ(follower_.check(leftMonitor), std::nullopt);
}

TEST_F(WindowFollowerX11Test, NamesTheFrontApplicationAsTheCatalogDoes) {
    show({.wmClass = desktop::testing::testWindowClass, .pid = otherProcess});
    EXPECT_EQ(list_->frontApplication(),
              (WindowList::FrontApplication{pid_t(otherProcess), desktop::testing::testWindowEntry}));
    EXPECT_EQ(list_->fileBrowserId(), desktop::testing::fileBrowserEntry);
}

}  // namespace
}  // namespace vantrel
