// Against a real X server with a window manager (scripts/test-session.sh provides both): windows
// of test applications are found, matched to their entries and brought to the front.
#include <gtest/gtest.h>
#include <signal.h>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <QByteArray>
#include <QImage>
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "App/AppCatalog.hpp"
#include "DesktopFixture.hpp"
#include "Platform/desktop/DesktopWorkspace.hpp"
#include "Platform/desktop/X11Windows.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel::desktop {
namespace {

using namespace std::chrono_literals;
using testing::fixture;
using vantrel::testing::waitUntil;

// Makes top-level windows with chosen properties on a connection of its own, as another
// application would, and destroys them at the end.
class WindowMaker {
public:
    struct Spec {
        std::string wmClass = {};
        std::string gtkId = {};
        bool dialog = false;
        bool skipTaskbar = false;
    };

    WindowMaker() : connection_(xcb_connect(nullptr, &screen_)) {
        if (xcb_connection_has_error(connection_) == 0) {
            ewmhReady_ = xcb_ewmh_init_atoms_replies(&ewmh_, xcb_ewmh_init_atoms(connection_, &ewmh_), nullptr) != 0;
        }
    }
    ~WindowMaker() {
        for (const auto window : windows_) {
            xcb_destroy_window(connection_, window);
        }
        xcb_flush(connection_);
        if (ewmhReady_) {
            xcb_ewmh_connection_wipe(&ewmh_);
        }
        xcb_disconnect(connection_);
    }

    bool ready() const { return ewmhReady_; }

    bool windowManagerRuns() {
        xcb_window_t check = XCB_WINDOW_NONE;
        return xcb_ewmh_get_supporting_wm_check_reply(&ewmh_, xcb_ewmh_get_supporting_wm_check(&ewmh_, root()), &check,
                                                      nullptr) != 0 &&
               check != XCB_WINDOW_NONE;
    }

    xcb_window_t make(const Spec& spec) {
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root(), 50, 50, 200, 120, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::string wmClass = spec.wmClass + '\0' + spec.wmClass + '\0';
        xcb_icccm_set_wm_class(connection_, window, static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
        if (!spec.gtkId.empty()) {
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_GTK_APPLICATION_ID"),
                                ewmh_.UTF8_STRING, 8, static_cast<std::uint32_t>(spec.gtkId.size()), spec.gtkId.data());
        }
        xcb_atom_t type = spec.dialog ? ewmh_._NET_WM_WINDOW_TYPE_DIALOG : ewmh_._NET_WM_WINDOW_TYPE_NORMAL;
        xcb_ewmh_set_wm_window_type(&ewmh_, window, 1, &type);
        if (spec.skipTaskbar) {
            xcb_atom_t state = ewmh_._NET_WM_STATE_SKIP_TASKBAR;
            xcb_ewmh_set_wm_state(&ewmh_, window, 1, &state);
        }
        xcb_map_window(connection_, window);
        xcb_flush(connection_);
        windows_.push_back(window);
        return window;
    }

    void activate(xcb_window_t window) {
        xcb_ewmh_request_change_active_window(&ewmh_, screen_, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                              XCB_CURRENT_TIME, XCB_WINDOW_NONE);
        xcb_flush(connection_);
    }

    std::optional<std::uint32_t> pidOf(xcb_window_t window) {
        std::uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(&ewmh_, xcb_ewmh_get_wm_pid(&ewmh_, window), &pid, nullptr) == 0) {
            return std::nullopt;
        }
        return pid;
    }

private:
    xcb_window_t root() const {
        auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
        for (int i = 0; i < screen_; ++i) {
            xcb_screen_next(&screens);
        }
        return screens.data->root;
    }
    xcb_atom_t atom(const char* name) {
        auto* reply = xcb_intern_atom_reply(
            connection_, xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(std::strlen(name)), name), nullptr);
        const xcb_atom_t result = reply != nullptr ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
        std::free(reply);
        return result;
    }

    int screen_ = 0;
    xcb_connection_t* connection_;
    xcb_ewmh_connection_t ewmh_{};
    bool ewmhReady_ = false;
    std::vector<xcb_window_t> windows_;
};

class RunningApplicationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            GTEST_SKIP() << "needs an X display with a window manager (run under scripts/test-session.sh)";
        }
        maker_ = std::make_unique<WindowMaker>();
        x11_ = X11Windows::connect();
        if (!maker_->ready() || !x11_) {
            GTEST_SKIP() << "cannot open the X display " << display;
        }
        if (!maker_->windowManagerRuns()) {
            GTEST_SKIP() << "no EWMH window manager runs on " << display;
        }
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

    DesktopWorkspace workspace{IconRenderer::createQt()};
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

    EXPECT_EQ(workspace.runningApplications(),
              (std::vector<RunningApplication>{
                  {"org.vantrel.GtkApp.desktop", fixture().entry("org.vantrel.GtkApp.desktop"), "Gtk App"},
                  {"org.vantrel.Claimer.desktop", fixture().entry("org.vantrel.Claimer.desktop"), "Claimer"},
                  {"vantrel-byclass.desktop", fixture().entry("vantrel-byclass.desktop"), "By Class"},
              }));
}

TEST_F(RunningApplicationsTest, CatalogLaunchesListsAndActivatesTheApplication) {
    auto shared = std::make_shared<DesktopWorkspace>(IconRenderer::createQt());
    AppCatalog catalog(shared);
    const std::string id = testing::testWindowEntry;
    const auto listed = [&](const AppList& list) {
        return std::find_if(list.apps.begin(), list.apps.end(), [&](const AppEntry& e) { return e.id == id; });
    };
    const AppList before = catalog.current();
    ASSERT_EQ(listed(before), before.apps.end()) << "the test application runs already";

    const auto location = shared->locate(id);
    ASSERT_TRUE(location);
    shared->openOrActivate(*location);  // not running: launched through its desktop entry
    std::optional<std::uint32_t> launched;
    ASSERT_TRUE(waitUntil([&] { return (launched = windowOfClass(testing::testWindowClass)).has_value(); }, 20s));
    const auto pid = maker_->pidOf(*launched);
    ASSERT_TRUE(pid);
    struct Ender {
        std::uint32_t pid;
        ~Ender() { ::kill(static_cast<pid_t>(pid), SIGTERM); }
    } ender{*pid};

    AppList list;
    ASSERT_TRUE(waitUntil([&] { return listed(list = catalog.current()) != list.apps.end(); }, 10s));
    const AppEntry& entry = *listed(list);
    EXPECT_TRUE(entry.running);
    EXPECT_EQ(entry.name, "Test Window");
    ASSERT_TRUE(entry.icon);
    QImage icon;
    ASSERT_TRUE(icon.loadFromData(
        QByteArray(reinterpret_cast<const char*>(entry.icon->data()), static_cast<qsizetype>(entry.icon->size()))));
    EXPECT_EQ(icon.size(), QSize(96, 96));

    // Another window takes the focus; opening the listed application brings its window back.
    const auto other = maker_->make({.wmClass = "Stranger"});
    ASSERT_TRUE(waitUntil([&] { return managed(other); }, 10s));
    maker_->activate(other);
    ASSERT_TRUE(waitUntil([&] { return x11_->activeWindow() == other; }, 10s));

    catalog.open(id, list);
    EXPECT_TRUE(waitUntil([&] { return x11_->activeWindow() == launched; }, 10s));
    EXPECT_EQ(windowOfClass(testing::testWindowClass), launched) << "activation must not launch a second instance";
}

}  // namespace
}  // namespace vantrel::desktop
