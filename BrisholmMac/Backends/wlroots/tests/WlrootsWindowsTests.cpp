// The wlroots backend's windows against a headless sway of the test's own with two outputs side by
// side (HEADLESS-1 at 0,0 1280x720, HEADLESS-2 at 1280,0 1024x768) and real foot windows, whose
// application ids name the desktop fixture's entries: the window list, the running applications,
// and the follower over them.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "Backends/wlroots/MainConnection.hpp"
#include "Backends/wlroots/WlrootsBackend.hpp"
#include "Backends/wlroots/WlrootsWindows.hpp"
#include "Input/WindowFollower.hpp"
#include "Input/tests/Printing.hpp"
#include "Platform/desktop/tests/DesktopFixture.hpp"
#include "PrivateSway.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::wayland {
namespace {

using namespace std::chrono_literals;
using desktop::testing::fixture;
using vantrel::testing::PrivateSway;
using vantrel::testing::waitUntil;

const Rect firstOutput{0, 0, 1280, 720};
const Rect secondOutput{1280, 0, 1024, 768};

class WlrootsWindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sway_.ok()) {
            GTEST_SKIP() << sway_.failure();
        }
        connection_ = std::make_shared<MainConnection>();
        list_ = std::make_shared<WlrootsWindowList>(connection_, ::getpid());
    }

    // Opens a terminal with this application id on the focused output and waits until the
    // compositor lists it as the active window; its facts then.
    ToplevelFacts open(const std::string& appId) {
        // cat keeps the terminal open without a shell (sway's user has none to log in with).
        EXPECT_TRUE(sway_.launch("foot --app-id " + appId + " cat"));
        std::optional<ToplevelFacts> opened;
        const bool shown = waitUntil(
            [&] {
                (void)list_->windows();  // dispatches what the compositor sent
                opened = active();
                return opened && opened->appId == appId && !opened->outputs.empty();
            },
            20s);
        EXPECT_TRUE(shown) << appId << " never became the active window";
        return opened.value_or(ToplevelFacts{});
    }

    std::optional<ToplevelFacts> active() {
        for (const auto& toplevel : connection_->toplevels()->toplevels()) {
            if (toplevel.activated) {
                return toplevel;
            }
        }
        return std::nullopt;
    }

    std::string outputName(std::uint32_t id) {
        for (const auto& output : connection_->outputs()->outputs()) {
            if (output.id == id) {
                return output.name;
            }
        }
        return {};
    }

    std::uint32_t outputId(const std::string& name) {
        for (const auto& output : connection_->outputs()->outputs()) {
            if (output.name == name) {
                return output.id;
            }
        }
        return 0;
    }

    std::vector<WindowList::Window> windows() { return list_->windows().value_or(std::vector<WindowList::Window>{}); }

    // Waits until list, on a connection of its own, has seen count windows.
    static bool sees(WindowList& list, std::size_t count) {
        return waitUntil([&] { return list.windows().value_or(std::vector<WindowList::Window>{}).size() == count; },
                         10s);
    }

    PrivateSway sway_{{{1280, 720}, {1024, 768}}};
    std::shared_ptr<MainConnection> connection_;
    std::shared_ptr<WlrootsWindowList> list_;
};

TEST_F(WlrootsWindowsTest, ListsWindowsWithApplicationAndOutputTheActiveFirstAndForgetsClosedOnes) {
    const auto first = open("org.vantrel.GtkApp");
    ASSERT_EQ(first.outputs.size(), 1U);
    EXPECT_EQ(outputName(first.outputs[0]), "HEADLESS-1");

    ASSERT_FALSE(sway_.message("focus output HEADLESS-2").empty());
    const auto second = open("Vantrel-Claimed");
    ASSERT_EQ(second.outputs.size(), 1U);
    EXPECT_EQ(outputName(second.outputs[0]), "HEADLESS-2");

    auto listed = windows();
    ASSERT_EQ(listed.size(), 2U);
    EXPECT_EQ(listed[0].id, second.id) << "the active window is in front";
    EXPECT_EQ(listed[0].bounds, secondOutput);
    EXPECT_EQ(listed[1].id, first.id);
    EXPECT_EQ(listed[1].bounds, firstOutput);
    EXPECT_NE(listed[0].pid, listed[1].pid) << "two applications, two owners";
    EXPECT_NE(listed[0].pid, ::getpid());
    EXPECT_EQ(list_->frontApplication(), (WindowList::FrontApplication{listed[0].pid, "org.vantrel.Claimer.desktop"}));
    EXPECT_EQ(list_->fileBrowserId(), desktop::testing::fileBrowserEntry);

    ASSERT_FALSE(sway_.message("'[app_id=Vantrel-Claimed] kill'").empty());
    ASSERT_TRUE(waitUntil([&] { return windows().size() == 1; }, 10s)) << "the closed window stays listed";
    EXPECT_EQ(windows()[0].id, first.id);
}

TEST_F(WlrootsWindowsTest, RunningApplicationsComeFromApplicationIdsAndOpeningOneActivatesIt) {
    const auto workspace = makeWlrootsBackend().workspace;
    for (const auto* appId : {"org.vantrel.GtkApp", "Stranger", "Vantrel-Claimed", "Vantrel-ByClass"}) {
        open(appId);
    }
    const auto entry = [](const std::string& id) { return fixture().entry(id); };
    EXPECT_EQ(workspace->runningApplications(),
              (std::vector<RunningApplication>{
                  {"org.vantrel.GtkApp.desktop", entry("org.vantrel.GtkApp.desktop"), "Gtk App"},
                  {"org.vantrel.Claimer.desktop", entry("org.vantrel.Claimer.desktop"), "Claimer"},
                  {"vantrel-byclass.desktop", entry("vantrel-byclass.desktop"), "By Class"},
              }));

    // The first terminal is behind the others; opening its application brings it to the front
    // instead of launching the entry.
    workspace->openOrActivate(entry("org.vantrel.GtkApp.desktop"));
    EXPECT_TRUE(waitUntil([&] { return sway_.focusedName() == "org.vantrel.GtkApp"; }, 10s))
        << "focused: " << sway_.focusedName();
}

TEST_F(WlrootsWindowsTest, TheFollowerFollowsANewWindowOnTheOtherOutputButNotTheHostsOwn) {
    const auto backend = makeWlrootsBackend();
    const auto left = outputId("HEADLESS-1");
    const auto right = outputId("HEADLESS-2");
    WindowFollower follower(
        backend.windows, [&backend] { return backend.displays->layout(); }, [] { return 1000.0; }, ::getpid());
    open("org.vantrel.GtkApp");
    ASSERT_TRUE(sees(*backend.windows, 1));
    EXPECT_EQ(follower.check(left), std::nullopt) << "priming only records";
    EXPECT_EQ(follower.check(left), std::nullopt);

    ASSERT_FALSE(sway_.message("focus output HEADLESS-2").empty());
    open("org.vantrel.GtkApp");
    ASSERT_TRUE(sees(*backend.windows, 2));
    EXPECT_EQ(follower.check(left), (FollowDecision{right, secondOutput}));
    EXPECT_EQ(follower.check(left), std::nullopt) << "once only";

    // The host's own panel opening on the streamed display's neighbour is no reason to leave it.
    ASSERT_FALSE(sway_.message("focus output HEADLESS-1").empty());
    open(hostApplicationId);
    ASSERT_TRUE(sees(*backend.windows, 3));
    EXPECT_EQ(follower.check(right), std::nullopt);
}

}  // namespace
}  // namespace vantrel::wayland
