#include "Backends/x11/X11Windows.hpp"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Backends/x11/X11Connection.hpp"

namespace vantrel::desktop {

namespace {

using x11::X11Connection;
using x11::XcbReply;

// Takes the errors of one window's replies and remembers whether the window was gone (destroyed
// between the listing and the reading), in which case its facts are worthless.
class ErrorNote {
public:
    // Where the next reply puts its error.
    xcb_generic_error_t** slot() {
        take();
        return &error_;
    }
    [[nodiscard]] bool gone() {
        take();
        return gone_;
    }

private:
    void take() {
        if (error_ != nullptr) {
            gone_ = gone_ || error_->error_code == XCB_WINDOW || error_->error_code == XCB_DRAWABLE;
            std::free(error_);
            error_ = nullptr;
        }
    }

    xcb_generic_error_t* error_ = nullptr;
    bool gone_ = false;
};

}  // namespace

struct X11Windows::State {
    std::shared_ptr<X11Connection> shared;
    xcb_connection_t* connection = nullptr;
    int screen = 0;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    xcb_atom_t gtkApplicationId = XCB_ATOM_NONE;
    xcb_atom_t windowOpacity = XCB_ATOM_NONE;

    ~State() {
        if (ewmhReady) {
            xcb_ewmh_connection_wipe(&ewmh);
        }
    }

    [[nodiscard]] xcb_window_t root() const { return ewmh.screens[screen]->root; }

    // Errors of requests whose replies are taken with a null error pointer land in the event
    // queue: the connection reads them off (and hands its other users their events).
    void dropEvents() const { shared->dispatchPending(); }

    // Absent when the window manager keeps no such list or the server went away.
    std::optional<std::vector<xcb_window_t>> windowList(bool stacking) {
        const auto cookie =
            stacking ? xcb_ewmh_get_client_list_stacking(&ewmh, screen) : xcb_ewmh_get_client_list(&ewmh, screen);
        xcb_ewmh_get_windows_reply_t reply{};
        xcb_generic_error_t* error = nullptr;
        const bool ok = stacking ? xcb_ewmh_get_client_list_stacking_reply(&ewmh, cookie, &reply, &error) != 0
                                 : xcb_ewmh_get_client_list_reply(&ewmh, cookie, &reply, &error) != 0;
        std::free(error);
        if (!ok) {
            return std::nullopt;
        }
        std::vector<xcb_window_t> windows(reply.windows, reply.windows + reply.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&reply);
        return windows;
    }

    // The replies both kinds of facts read, each from the cookie of its request.
    WindowFacts::Type typeReply(xcb_get_property_cookie_t cookie, ErrorNote& note) {
        auto type = WindowFacts::Type::unset;
        xcb_ewmh_get_atoms_reply_t atoms{};
        if (xcb_ewmh_get_wm_window_type_reply(&ewmh, cookie, &atoms, note.slot()) != 0) {
            if (atoms.atoms_len > 0) {
                type = atoms.atoms[0] == ewmh._NET_WM_WINDOW_TYPE_NORMAL ? WindowFacts::Type::normal
                                                                         : WindowFacts::Type::other;
            }
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        return type;
    }
    bool hasState(xcb_get_property_cookie_t cookie, xcb_atom_t state, ErrorNote& note) {
        xcb_ewmh_get_atoms_reply_t atoms{};
        if (xcb_ewmh_get_wm_state_reply(&ewmh, cookie, &atoms, note.slot()) == 0) {
            return false;
        }
        const bool found =
            std::find(atoms.atoms, atoms.atoms + atoms.atoms_len, state) != atoms.atoms + atoms.atoms_len;
        xcb_ewmh_get_atoms_reply_wipe(&atoms);
        return found;
    }
    bool transientReply(xcb_get_property_cookie_t cookie, ErrorNote& note) {
        xcb_window_t owner = XCB_WINDOW_NONE;
        return xcb_icccm_get_wm_transient_for_reply(connection, cookie, &owner, note.slot()) != 0 && owner != XCB_NONE;
    }

    // Reads facts of each window in the given order: every request goes out before the first
    // reply is awaited (one round trip for the lot), and windows that disappear meanwhile are left
    // out. request(window) sends a window's requests; read(cookies, facts, note) takes the replies.
    template <typename Facts, typename Request, typename Read>
    std::vector<Facts> readEach(const std::vector<xcb_window_t>& windows, Request request, Read read) {
        std::vector<decltype(request(xcb_window_t{}))> pending;
        pending.reserve(windows.size());
        for (const auto window : windows) {
            pending.push_back(request(window));
        }
        std::vector<Facts> facts;
        facts.reserve(windows.size());
        for (std::size_t i = 0; i < windows.size(); ++i) {
            ErrorNote note;
            Facts window;
            window.window = windows[i];
            read(pending[i], window, note);
            if (!note.gone()) {
                facts.push_back(std::move(window));
            }
        }
        dropEvents();
        return facts;
    }

    std::vector<WindowFacts> factsOf(const std::vector<xcb_window_t>& windows) {
        xcb_connection_t* const c = connection;
        struct Pending {
            xcb_get_property_cookie_t type, state, transient, wmClass, gtkId;
        };
        const auto request = [&](xcb_window_t window) {
            return Pending{xcb_ewmh_get_wm_window_type(&ewmh, window), xcb_ewmh_get_wm_state(&ewmh, window),
                           xcb_icccm_get_wm_transient_for(c, window), xcb_icccm_get_wm_class(c, window),
                           xcb_get_property(c, 0, window, gtkApplicationId, ewmh.UTF8_STRING, 0, 256)};
        };
        const auto read = [&](const Pending& pending, WindowFacts& window, ErrorNote& note) {
            window.type = typeReply(pending.type, note);
            window.skipTaskbar = hasState(pending.state, ewmh._NET_WM_STATE_SKIP_TASKBAR, note);
            window.transient = transientReply(pending.transient, note);

            xcb_icccm_get_wm_class_reply_t wmClass{};
            if (xcb_icccm_get_wm_class_reply(c, pending.wmClass, &wmClass, note.slot()) != 0) {
                if (wmClass.instance_name != nullptr) {
                    window.wmInstance = wmClass.instance_name;
                }
                if (wmClass.class_name != nullptr) {
                    window.wmClass = wmClass.class_name;
                }
                xcb_icccm_get_wm_class_reply_wipe(&wmClass);
            }

            XcbReply<xcb_get_property_reply_t> gtkId(xcb_get_property_reply(c, pending.gtkId, note.slot()));
            if (gtkId && gtkId->type == ewmh.UTF8_STRING && gtkId->format == 8) {
                const auto* bytes = static_cast<const char*>(xcb_get_property_value(gtkId.get()));
                const auto length = static_cast<std::size_t>(xcb_get_property_value_length(gtkId.get()));
                window.gtkApplicationId = std::string(bytes, strnlen(bytes, length));
            }
        };
        return readEach<WindowFacts>(windows, request, read);
    }

    // What decides whether each window shows on screen, and where.
    std::vector<StackedWindowFacts> stackedFactsOf(const std::vector<xcb_window_t>& windows) {
        xcb_connection_t* const c = connection;
        struct Pending {
            xcb_get_property_cookie_t type, state, transient, pid, opacity, extents;
            xcb_get_window_attributes_cookie_t attributes;
            xcb_get_geometry_cookie_t geometry;
            xcb_translate_coordinates_cookie_t origin;
        };
        const auto request = [&](xcb_window_t window) {
            return Pending{xcb_ewmh_get_wm_window_type(&ewmh, window),
                           xcb_ewmh_get_wm_state(&ewmh, window),
                           xcb_icccm_get_wm_transient_for(c, window),
                           xcb_ewmh_get_wm_pid(&ewmh, window),
                           xcb_get_property(c, 0, window, windowOpacity, XCB_ATOM_CARDINAL, 0, 1),
                           xcb_ewmh_get_frame_extents(&ewmh, window),
                           xcb_get_window_attributes(c, window),
                           xcb_get_geometry(c, window),
                           xcb_translate_coordinates(c, window, root(), 0, 0)};
        };
        const auto read = [&](const Pending& pending, StackedWindowFacts& window, ErrorNote& note) {
            window.type = typeReply(pending.type, note);
            window.hidden = hasState(pending.state, ewmh._NET_WM_STATE_HIDDEN, note);
            window.transient = transientReply(pending.transient, note);

            std::uint32_t pid = 0;
            if (xcb_ewmh_get_wm_pid_reply(&ewmh, pending.pid, &pid, note.slot()) != 0) {
                window.pid = pid;
            }

            XcbReply<xcb_get_property_reply_t> opacity(xcb_get_property_reply(c, pending.opacity, note.slot()));
            if (opacity && opacity->type == XCB_ATOM_CARDINAL && opacity->format == 32 &&
                xcb_get_property_value_length(opacity.get()) >= 4) {
                window.opacity = *static_cast<const std::uint32_t*>(xcb_get_property_value(opacity.get()));
            }

            xcb_ewmh_get_extents_reply_t extents{};
            if (xcb_ewmh_get_frame_extents_reply(&ewmh, pending.extents, &extents, note.slot()) != 0) {
                window.extents = {static_cast<double>(extents.left), static_cast<double>(extents.right),
                                  static_cast<double>(extents.top), static_cast<double>(extents.bottom)};
            }

            XcbReply<xcb_get_window_attributes_reply_t> attributes(
                xcb_get_window_attributes_reply(c, pending.attributes, note.slot()));
            window.viewable = attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;

            XcbReply<xcb_get_geometry_reply_t> geometry(xcb_get_geometry_reply(c, pending.geometry, note.slot()));
            XcbReply<xcb_translate_coordinates_reply_t> origin(
                xcb_translate_coordinates_reply(c, pending.origin, note.slot()));
            if (geometry && origin) {
                // The origin is inside the border; the border belongs to what the user sees.
                const double border = geometry->border_width;
                window.area = Rect{origin->dst_x - border, origin->dst_y - border, geometry->width + 2 * border,
                                   geometry->height + 2 * border};
            }
        };
        return readEach<StackedWindowFacts>(windows, request, read);
    }
};

X11Windows::X11Windows(std::unique_ptr<State> state) : state_(std::move(state)) {}
X11Windows::~X11Windows() = default;

std::unique_ptr<X11Windows> X11Windows::over(std::shared_ptr<X11Connection> connection) {
    if (!connection || connection->broken()) {
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->connection = connection->get();
    state->screen = connection->screenNumber();
    state->shared = std::move(connection);
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(state->connection, &state->ewmh);
    if (xcb_ewmh_init_atoms_replies(&state->ewmh, cookies, nullptr) == 0) {
        return nullptr;
    }
    state->ewmhReady = true;
    state->gtkApplicationId = state->shared->atom("_GTK_APPLICATION_ID");
    state->windowOpacity = state->shared->atom("_NET_WM_WINDOW_OPACITY");
    return std::unique_ptr<X11Windows>(new X11Windows(std::move(state)));
}

X11Windows* X11Windows::on(x11::SharedConnection& shared, std::unique_ptr<X11Windows>& held) {
    auto connection = shared.reopened();
    if (!connection) {
        held.reset();
    } else if (!held || held->state_->shared != connection) {
        held = over(std::move(connection));
    }
    return held.get();
}

bool X11Windows::broken() const {
    return state_->shared->broken();
}

std::vector<WindowFacts> X11Windows::clientWindows() {
    auto windows = state_->windowList(false).value_or(std::vector<xcb_window_t>{});
    if (windows.empty()) {
        windows = state_->windowList(true).value_or(std::vector<xcb_window_t>{});
    }
    return state_->factsOf(windows);
}

std::optional<WindowFacts> X11Windows::windowFacts(std::uint32_t window) {
    auto facts = state_->factsOf({window});
    return facts.empty() ? std::nullopt : std::optional(std::move(facts.front()));
}

std::vector<std::uint32_t> X11Windows::stackingFrontToBack() {
    auto windows = state_->windowList(true).value_or(std::vector<xcb_window_t>{});
    std::reverse(windows.begin(), windows.end());
    return {windows.begin(), windows.end()};
}

std::optional<std::vector<StackedWindowFacts>> X11Windows::stackedWindows() {
    auto windows = state_->windowList(true);
    if (!windows) {
        return std::nullopt;
    }
    std::reverse(windows->begin(), windows->end());
    auto facts = state_->stackedFactsOf(*windows);
    // A server that went away answers nothing, which must not pass for an empty desktop.
    if (broken()) {
        return std::nullopt;
    }
    return facts;
}

std::optional<std::uint32_t> X11Windows::activeWindow() {
    auto& s = *state_;
    xcb_window_t window = XCB_WINDOW_NONE;
    xcb_generic_error_t* error = nullptr;
    const bool ok =
        xcb_ewmh_get_active_window_reply(&s.ewmh, xcb_ewmh_get_active_window(&s.ewmh, s.screen), &window, &error) != 0;
    std::free(error);
    if (!ok || window == XCB_WINDOW_NONE) {
        return std::nullopt;
    }
    return window;
}

std::optional<std::uint32_t> X11Windows::pidOf(std::uint32_t window) {
    auto& s = *state_;
    std::uint32_t pid = 0;
    xcb_generic_error_t* error = nullptr;
    const bool ok = xcb_ewmh_get_wm_pid_reply(&s.ewmh, xcb_ewmh_get_wm_pid(&s.ewmh, window), &pid, &error) != 0;
    std::free(error);
    return ok ? std::optional(pid) : std::nullopt;
}

void X11Windows::activate(std::uint32_t window) {
    auto& s = *state_;
    const xcb_window_t current = activeWindow().value_or(XCB_WINDOW_NONE);
    xcb_ewmh_request_change_active_window(&s.ewmh, s.screen, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                          XCB_CURRENT_TIME, current);
    xcb_flush(s.connection);
}

}  // namespace vantrel::desktop
