#pragma once

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "Geometry/Geometry.hpp"

namespace vantrel::desktop::testing {

// Makes top-level windows with chosen properties on a connection of its own, as another
// application would, and destroys them at the end. For the tests against a real X server with a
// window manager (scripts/test-session.sh provides both).
class WindowMaker {
public:
    struct Spec {
        std::string wmClass = {};
        std::string gtkId = {};
        bool dialog = false;
        bool skipTaskbar = false;
        // Where the window asks to be put (as a user-given position the window manager honours)
        // and its size, without decorations.
        std::int16_t x = 50;
        std::int16_t y = 50;
        std::uint16_t width = 200;
        std::uint16_t height = 120;
        std::optional<std::uint32_t> pid = {};  // the owner it names (_NET_WM_PID), none when absent
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
    WindowMaker(const WindowMaker&) = delete;
    WindowMaker& operator=(const WindowMaker&) = delete;

    // Why windows cannot be made and managed here (for GTEST_SKIP); none when they can.
    [[nodiscard]] std::optional<std::string> unusable() {
        const char* display = std::getenv("DISPLAY");
        if (display == nullptr || *display == '\0') {
            return "needs an X display with a window manager (run under scripts/test-session.sh)";
        }
        if (!ewmhReady_) {
            return std::string("cannot open the X display ") + display;
        }
        if (!windowManagerRuns()) {
            return std::string("no EWMH window manager runs on ") + display;
        }
        return std::nullopt;
    }

    xcb_window_t make(const Spec& spec) {
        const xcb_window_t window = xcb_generate_id(connection_);
        xcb_create_window(connection_, XCB_COPY_FROM_PARENT, window, root(), spec.x, spec.y, spec.width, spec.height, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
        const std::string wmClass = spec.wmClass + '\0' + spec.wmClass + '\0';
        xcb_icccm_set_wm_class(connection_, window, static_cast<std::uint32_t>(wmClass.size()), wmClass.data());
        xcb_size_hints_t hints{};
        xcb_icccm_size_hints_set_position(&hints, 1, spec.x, spec.y);
        xcb_icccm_set_wm_normal_hints(connection_, window, &hints);
        if (!spec.gtkId.empty()) {
            xcb_change_property(connection_, XCB_PROP_MODE_REPLACE, window, atom("_GTK_APPLICATION_ID"),
                                ewmh_.UTF8_STRING, 8, static_cast<std::uint32_t>(spec.gtkId.size()), spec.gtkId.data());
        }
        if (spec.pid) {
            xcb_ewmh_set_wm_pid(&ewmh_, window, *spec.pid);
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

    [[nodiscard]] std::optional<std::uint32_t> activeWindow() {
        xcb_window_t window = XCB_WINDOW_NONE;
        if (xcb_ewmh_get_active_window_reply(&ewmh_, xcb_ewmh_get_active_window(&ewmh_, screen_), &window, nullptr) ==
            0) {
            return std::nullopt;
        }
        return window;
    }

    [[nodiscard]] std::optional<std::uint32_t> pidOf(xcb_window_t window) {
        std::uint32_t pid = 0;
        if (xcb_ewmh_get_wm_pid_reply(&ewmh_, xcb_ewmh_get_wm_pid(&ewmh_, window), &pid, nullptr) == 0) {
            return std::nullopt;
        }
        return pid;
    }

    // What the user sees of the window: the top-level window the manager put it in, with its
    // border, in root coordinates. Absent until the window is managed.
    [[nodiscard]] std::optional<Rect> outline(xcb_window_t window) {
        xcb_window_t current = window;
        for (;;) {
            auto* tree = xcb_query_tree_reply(connection_, xcb_query_tree(connection_, current), nullptr);
            if (tree == nullptr) {
                return std::nullopt;
            }
            const xcb_window_t parent = tree->parent;
            std::free(tree);
            if (parent == root()) {
                break;
            }
            current = parent;
        }
        if (current == window) {
            return std::nullopt;  // not reparented: not managed yet
        }
        auto* geometry = xcb_get_geometry_reply(connection_, xcb_get_geometry(connection_, current), nullptr);
        if (geometry == nullptr) {
            return std::nullopt;
        }
        const double border = geometry->border_width;
        const Rect result{double(geometry->x), double(geometry->y), geometry->width + 2 * border,
                          geometry->height + 2 * border};
        std::free(geometry);
        return result;
    }

private:
    [[nodiscard]] bool windowManagerRuns() {
        xcb_window_t check = XCB_WINDOW_NONE;
        return xcb_ewmh_get_supporting_wm_check_reply(&ewmh_, xcb_ewmh_get_supporting_wm_check(&ewmh_, root()), &check,
                                                      nullptr) != 0 &&
               check != XCB_WINDOW_NONE;
    }

    [[nodiscard]] xcb_window_t root() const {
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

}  // namespace vantrel::desktop::testing
