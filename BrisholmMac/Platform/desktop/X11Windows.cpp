#include "Platform/desktop/X11Windows.hpp"

#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>
#include <xcb/xcb_icccm.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

namespace vantrel::desktop {

namespace {

struct FreeDeleter {
    void operator()(void* memory) const { std::free(memory); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

struct ConnectionDeleter {
    void operator()(xcb_connection_t* connection) const { xcb_disconnect(connection); }
};

xcb_atom_t internAtom(xcb_connection_t* connection, const char* name) {
    const auto cookie = xcb_intern_atom(connection, 0, static_cast<std::uint16_t>(std::strlen(name)), name);
    XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection, cookie, nullptr));
    return reply ? reply->atom : xcb_atom_t{XCB_ATOM_NONE};
}

}  // namespace

struct X11Windows::State {
    std::unique_ptr<xcb_connection_t, ConnectionDeleter> connection;
    int screen = 0;
    xcb_ewmh_connection_t ewmh{};
    bool ewmhReady = false;
    xcb_atom_t gtkApplicationId = XCB_ATOM_NONE;

    ~State() {
        if (ewmhReady) {
            xcb_ewmh_connection_wipe(&ewmh);
        }
    }

    // Errors of requests whose replies are taken with a null error pointer land in the event
    // queue; this connection selects no events, so everything there is such an error.
    void dropEvents() const {
        while (auto* event = xcb_poll_for_event(connection.get())) {
            std::free(event);
        }
    }

    std::vector<xcb_window_t> windowList(bool stacking) {
        const auto cookie =
            stacking ? xcb_ewmh_get_client_list_stacking(&ewmh, screen) : xcb_ewmh_get_client_list(&ewmh, screen);
        xcb_ewmh_get_windows_reply_t reply{};
        xcb_generic_error_t* error = nullptr;
        const bool ok = stacking ? xcb_ewmh_get_client_list_stacking_reply(&ewmh, cookie, &reply, &error) != 0
                                 : xcb_ewmh_get_client_list_reply(&ewmh, cookie, &reply, &error) != 0;
        std::free(error);
        if (!ok) {
            return {};
        }
        std::vector<xcb_window_t> windows(reply.windows, reply.windows + reply.windows_len);
        xcb_ewmh_get_windows_reply_wipe(&reply);
        return windows;
    }
};

X11Windows::X11Windows(std::unique_ptr<State> state) : state_(std::move(state)) {}
X11Windows::~X11Windows() = default;

std::unique_ptr<X11Windows> X11Windows::connect() {
    const char* display = std::getenv("DISPLAY");
    if (display == nullptr || *display == '\0') {
        return nullptr;
    }
    auto state = std::make_unique<State>();
    state->connection.reset(xcb_connect(display, &state->screen));
    if (xcb_connection_has_error(state->connection.get()) != 0) {
        return nullptr;
    }
    xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(state->connection.get(), &state->ewmh);
    if (xcb_ewmh_init_atoms_replies(&state->ewmh, cookies, nullptr) == 0) {
        return nullptr;
    }
    state->ewmhReady = true;
    state->gtkApplicationId = internAtom(state->connection.get(), "_GTK_APPLICATION_ID");
    return std::unique_ptr<X11Windows>(new X11Windows(std::move(state)));
}

bool X11Windows::broken() const {
    return xcb_connection_has_error(state_->connection.get()) != 0;
}

std::vector<WindowFacts> X11Windows::clientWindows() {
    auto& s = *state_;
    xcb_connection_t* const c = s.connection.get();
    std::vector<xcb_window_t> windows = s.windowList(false);
    if (windows.empty()) {
        windows = s.windowList(true);
    }

    // Every request goes out before the first reply is awaited: one round trip for the lot.
    struct Pending {
        xcb_get_property_cookie_t type, state, transient, wmClass, gtkId;
    };
    std::vector<Pending> pending;
    pending.reserve(windows.size());
    for (const auto window : windows) {
        pending.push_back({xcb_ewmh_get_wm_window_type(&s.ewmh, window), xcb_ewmh_get_wm_state(&s.ewmh, window),
                           xcb_icccm_get_wm_transient_for(c, window), xcb_icccm_get_wm_class(c, window),
                           xcb_get_property(c, 0, window, s.gtkApplicationId, s.ewmh.UTF8_STRING, 0, 256)});
    }

    std::vector<WindowFacts> facts;
    facts.reserve(windows.size());
    for (std::size_t i = 0; i < windows.size(); ++i) {
        WindowFacts window;
        window.window = windows[i];
        bool gone = false;
        const auto note = [&gone](xcb_generic_error_t* error) {
            if (error != nullptr) {
                gone = gone || error->error_code == XCB_WINDOW;
                std::free(error);
            }
        };

        xcb_generic_error_t* error = nullptr;
        xcb_ewmh_get_atoms_reply_t atoms{};
        if (xcb_ewmh_get_wm_window_type_reply(&s.ewmh, pending[i].type, &atoms, &error) != 0) {
            if (atoms.atoms_len > 0) {
                window.type = atoms.atoms[0] == s.ewmh._NET_WM_WINDOW_TYPE_NORMAL ? WindowFacts::Type::normal
                                                                                  : WindowFacts::Type::other;
            }
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        note(error);

        error = nullptr;
        if (xcb_ewmh_get_wm_state_reply(&s.ewmh, pending[i].state, &atoms, &error) != 0) {
            window.skipTaskbar = std::find(atoms.atoms, atoms.atoms + atoms.atoms_len,
                                           s.ewmh._NET_WM_STATE_SKIP_TASKBAR) != atoms.atoms + atoms.atoms_len;
            xcb_ewmh_get_atoms_reply_wipe(&atoms);
        }
        note(error);

        error = nullptr;
        xcb_window_t owner = XCB_WINDOW_NONE;
        window.transient =
            xcb_icccm_get_wm_transient_for_reply(c, pending[i].transient, &owner, &error) != 0 && owner != XCB_NONE;
        note(error);

        error = nullptr;
        xcb_icccm_get_wm_class_reply_t wmClass{};
        if (xcb_icccm_get_wm_class_reply(c, pending[i].wmClass, &wmClass, &error) != 0) {
            if (wmClass.instance_name != nullptr) {
                window.wmInstance = wmClass.instance_name;
            }
            if (wmClass.class_name != nullptr) {
                window.wmClass = wmClass.class_name;
            }
            xcb_icccm_get_wm_class_reply_wipe(&wmClass);
        }
        note(error);

        error = nullptr;
        XcbReply<xcb_get_property_reply_t> gtkId(xcb_get_property_reply(c, pending[i].gtkId, &error));
        if (gtkId && gtkId->type == s.ewmh.UTF8_STRING && gtkId->format == 8) {
            const auto* bytes = static_cast<const char*>(xcb_get_property_value(gtkId.get()));
            const auto length = static_cast<std::size_t>(xcb_get_property_value_length(gtkId.get()));
            window.gtkApplicationId = std::string(bytes, strnlen(bytes, length));
        }
        note(error);

        if (!gone) {
            facts.push_back(std::move(window));
        }
    }
    s.dropEvents();
    return facts;
}

std::vector<std::uint32_t> X11Windows::stackingFrontToBack() {
    auto windows = state_->windowList(true);
    std::reverse(windows.begin(), windows.end());
    return {windows.begin(), windows.end()};
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

void X11Windows::activate(std::uint32_t window) {
    auto& s = *state_;
    const xcb_window_t current = activeWindow().value_or(XCB_WINDOW_NONE);
    xcb_ewmh_request_change_active_window(&s.ewmh, s.screen, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                          XCB_CURRENT_TIME, current);
    xcb_flush(s.connection.get());
}

}  // namespace vantrel::desktop
