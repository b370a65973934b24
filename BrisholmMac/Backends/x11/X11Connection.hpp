#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "Backends/x11/XcbHandles.hpp"

namespace vantrel::x11 {

// One connection to an X display, and what every user of it needs once: opening it with one
// logged reason when that fails, the extension probe, the check that turns a refused request into
// a logged reason, and the events. Several users share one connection, and X delivers a
// connection's events to whoever reads them first, so no user reads them itself: each subscribes
// to its own kinds, and whoever needs the news now asks the connection to dispatch what has come.
// Errors of requests whose replies were taken without asking for the error arrive as events too;
// the connection logs them (debug) instead.
//
// A connection that broke (the server went away) stays broken; SharedConnection opens another.
// Lives on one thread: the main thread for the backend's shared connection, the capture queue for
// a capturer's own.
class X11Connection : public std::enable_shared_from_this<X11Connection> {
public:
    using EventHandler = std::function<void(const xcb_generic_event_t& event)>;

    // Ends its handler's subscription when it goes (or when end() is called).
    class Subscription {
    public:
        Subscription() = default;
        Subscription(std::weak_ptr<X11Connection> connection, std::uint64_t id)
            : connection_(std::move(connection)), id_(id) {}
        Subscription(Subscription&& other) noexcept;
        Subscription& operator=(Subscription&& other) noexcept;
        Subscription(const Subscription&) = delete;
        Subscription& operator=(const Subscription&) = delete;
        ~Subscription() { end(); }

        void end();

    private:
        std::weak_ptr<X11Connection> connection_;
        std::uint64_t id_ = 0;
    };

    // The connection, or why there is none.
    struct Opened {
        std::shared_ptr<X11Connection> connection;
        std::string failure;  // set when connection is null
    };

    // Opens the display named displayName (DISPLAY when none) and finds its screen. Null, with
    // one log line naming purpose and the reason, when it cannot be opened.
    [[nodiscard]] static std::shared_ptr<X11Connection> open(const std::string& purpose,
                                                             const std::optional<std::string>& displayName = {});
    // The same without the log line, for callers that decide themselves what to say (a connection
    // opened again and again while the display is away, the session's first look at the display).
    [[nodiscard]] static Opened tryOpen(const std::string& purpose, const std::optional<std::string>& displayName = {});

    ~X11Connection();
    X11Connection(const X11Connection&) = delete;
    X11Connection& operator=(const X11Connection&) = delete;

    [[nodiscard]] xcb_connection_t* get() const { return connection_.get(); }
    [[nodiscard]] xcb_window_t root() const { return screen_->root; }
    [[nodiscard]] int screenNumber() const { return screenNumber_; }
    [[nodiscard]] const std::string& purpose() const { return purpose_; }
    // Whether the connection has failed; a broken connection answers nothing and stays broken.
    [[nodiscard]] bool broken() const;

    // The first event number of extension when the server has it (its events are numbered from
    // there); none when it lacks it. xcb asks the server once per connection and extension.
    [[nodiscard]] std::optional<std::uint8_t> extension(xcb_extension_t& extension) const;

    // Waits for the outcome of a checked request: true when it was done, else false with a log
    // line "what (X error ...)".
    bool check(xcb_void_cookie_t cookie, std::string_view what) const;
    // An X error in a log line's words: its code and the request it answers.
    [[nodiscard]] static std::string describe(const xcb_generic_error_t& error);

    // The atom of name, interned; XCB_ATOM_NONE when the server does not answer.
    [[nodiscard]] xcb_atom_t atom(std::string_view name) const { return internAtom(get(), name); }

    // Adds mask to the events this connection selects on the root window. A client has one event
    // mask per window, so users of one connection add to it here instead of each setting its own.
    void selectRootEvents(std::uint32_t mask);

    // Hands every event of kind type (the response type without the bit of sent events) read on
    // this connection to handler, until the subscription ends. Subscribe before asking the server
    // for such events.
    [[nodiscard]] Subscription subscribe(std::uint8_t type, EventHandler handler);

    // Reads every event the server has sent so far and hands each to its subscribers, in order.
    void dispatchPending();
    // Dispatches events as they come until done() holds, the connection breaks or timeout passes;
    // says whether done() holds. For a user that waits for the server's news of its own request.
    bool dispatchUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done);

private:
    X11Connection(XcbConnection connection, xcb_screen_t* screen, int screenNumber, std::string purpose);
    void dispatch(const xcb_generic_event_t& event);

    XcbConnection connection_;
    xcb_screen_t* screen_;
    int screenNumber_;
    std::string purpose_;
    std::uint32_t rootEventMask_ = 0;
    struct Handler {
        std::uint8_t type;
        EventHandler handle;
    };
    std::map<std::uint64_t, Handler> handlers_;
    std::uint64_t nextHandler_ = 1;
    const std::thread::id thread_ = std::this_thread::get_id();
};

// The backend's one connection for its users on the main thread (the displays, the session
// checks, the window list, the workspace's running windows, the input device, the screen saver
// hold). Those that have always opened the display again after losing it (the session checks,
// the window lists, opening the input device, taking the keep-awake hold) ask for reopened(), which
// replaces a broken connection with a new one; the others take current(), whichever it is now.
//
// Lives on the main thread.
class SharedConnection {
public:
    // Opens displayName (DISPLAY when none) now; current() is null when that failed (logged).
    explicit SharedConnection(std::optional<std::string> displayName = {});

    // The connection as it is: null when the display could not be opened, maybe broken.
    [[nodiscard]] const std::shared_ptr<X11Connection>& current() const { return connection_; }
    // The connection, opened again when it broke or was never opened; null while the display
    // cannot be opened (said once per outage in the log).
    [[nodiscard]] std::shared_ptr<X11Connection> reopened();

private:
    std::optional<std::string> displayName_;
    std::shared_ptr<X11Connection> connection_;
    bool outageLogged_ = false;
};

}  // namespace vantrel::x11
