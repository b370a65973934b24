// The X11 backend's workspace against a real X server with a window manager
// (scripts/test-session.sh provides both): windows of test applications are found, matched to
// their entries and brought to the front.
#include <gtest/gtest.h>
#include <signal.h>

#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "Backends/x11/X11Backend.hpp"
#include "Backends/x11/X11Connection.hpp"
#include "Backends/x11/X11Windows.hpp"
#include "Backends/x11/tests/WindowMaker.hpp"
#include "Platform/Workspace.hpp"
#include "Platform/desktop/tests/DesktopFixture.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::desktop {
namespace {

using namespace std::chrono_literals;
using testing::fixture;
using testing::WindowMaker;
using vantrel::testing::waitUntil;

class RunningApplicationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        maker_ = std::make_unique<WindowMaker>();
        if (const auto reason = maker_->unusable()) {
            GTEST_SKIP() << *reason;
        }
        x11_ = X11Windows::over(x11::X11Connection::open("test"));
        ASSERT_TRUE(x11_);
        workspace = makeX11Backend().workspace;
    }

    bool managed(std::uint32_t window) {
        const auto windows = x11_->clientWindows();
        return std::any_of(windows.begin(), windows.end(), [&](const WindowFacts& f) { return f.window == window; });
    }

    std::optional<std::uint32_t> windowOfClass(const std::string& wmClass) {
        for (const auto& facts : x11_->clientWindows()) {
            if (facts.wmClass == wmClass) {
                return facts.window;
            }
        }
        return std::nullopt;
    }

    std::shared_ptr<Workspace> workspace;
    std::unique_ptr<WindowMaker> maker_;
    std::unique_ptr<X11Windows> x11_;
};

TEST_F(RunningApplicationsTest, ReportsApplicationsOfRegularWindowsOnceInClientOrder) {
    const std::vector<xcb_window_t> windows = {
        maker_->make({.wmClass = "gtk-thing", .gtkId = "org.vantrel.GtkApp"}),
        maker_->make({.wmClass = "Stranger"}),
        maker_->make({.wmClass = "Vantrel-Claimed"}),
        maker_->make({.wmClass = "org.vantrel.Png", .dialog = true}),
        maker_->make({.wmClass = "org.vantrel.Svg", .skipTaskbar = true}),
        maker_->make({.wmClass = "Vantrel-ByClass"}),
        maker_->make({.wmClass = "other", .gtkId = "org.vantrel.GtkApp"}),
    };
    ASSERT_TRUE(waitUntil(
        [&] { return std::all_of(windows.begin(), windows.end(), [&](auto w) { return managed(w); }); }, 10s));

    EXPECT_EQ(workspace->runningApplications(),
              (std::vector<RunningApplication>{
                  {"org.vantrel.GtkApp.desktop", fixture().entry("org.vantrel.GtkApp.desktop"), "Gtk App"},
                  {"org.vantrel.Claimer.desktop", fixture().entry("org.vantrel.Claimer.desktop"), "Claimer"},
                  {"vantrel-byclass.desktop", fixture().entry("vantrel-byclass.desktop"), "By Class"},
              }));
}

TEST_F(RunningApplicationsTest, LaunchesListsAndActivatesTheApplication) {
    const std::string id = testing::testWindowEntry;
    const auto running = [&] {
        const auto applications = workspace->runningApplications();
        const auto found = std::find_if(applications.begin(), applications.end(),
                                        [&](const RunningApplication& application) { return application.id == id; });
        return found != applications.end() ? std::optional(*found) : std::nullopt;
    };
    ASSERT_FALSE(running()) << "the test application runs already";

    const auto location = workspace->locate(id);
    ASSERT_TRUE(location);
    workspace->openOrActivate(*location);  // not running: launched through its desktop entry
    std::optional<std::uint32_t> launched;
    ASSERT_TRUE(waitUntil([&] { return (launched = windowOfClass(testing::testWindowClass)).has_value(); }, 20s));
    const auto pid = maker_->pidOf(*launched);
    ASSERT_TRUE(pid);
    struct Ender {
        std::uint32_t pid;
        ~Ender() { ::kill(static_cast<pid_t>(pid), SIGTERM); }
    } ender{*pid};

    std::optional<RunningApplication> listed;
    ASSERT_TRUE(waitUntil([&] { return (listed = running()).has_value(); }, 10s));
    EXPECT_EQ(listed->location, location);
    EXPECT_EQ(listed->localizedName, "Test Window");
    const auto icon = workspace->iconPNG(*location);
    ASSERT_TRUE(icon);
    QImage image;
    ASSERT_TRUE(image.loadFromData(
        QByteArray(reinterpret_cast<const char*>(icon->data()), static_cast<qsizetype>(icon->size()))));
    EXPECT_EQ(image.size(), QSize(96, 96));

    // Another window takes the focus; opening the listed application brings its window back.
    const auto other = maker_->make({.wmClass = "Stranger"});
    ASSERT_TRUE(waitUntil([&] { return managed(other); }, 10s));
    maker_->activate(other);
    ASSERT_TRUE(waitUntil([&] { return x11_->activeWindow() == other; }, 10s));

    workspace->openOrActivate(*location);
    EXPECT_TRUE(waitUntil([&] { return x11_->activeWindow() == launched; }, 10s));
    EXPECT_EQ(windowOfClass(testing::testWindowClass), launched) << "activation must not launch a second instance";
}

}  // namespace
}  // namespace vantrel::desktop
