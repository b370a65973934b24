#include "Backends/x11/X11Connection.hpp"

#include <poll.h>

#include <cassert>
#include <cstdlib>
#include <utility>
#include <vector>

#include "Log/DiagnosticLog.hpp"

namespace vantrel::x11 {

X11Connection::Subscription::Subscription(Subscription&& other) noexcept
    : connection_(std::move(other.connection_)), id_(std::exchange(other.id_, 0)) {}

X11Connection::Subscription& X11Connection::Subscription::operator=(Subscription&& other) noexcept {
    if (this != &other) {
        end();
        connection_ = std::move(other.connection_);
        id_ = std::exchange(other.id_, 0);
    }
    return *this;
}

void X11Connection::Subscription::end() {
    if (const auto connection = connection_.lock()) {
        connection->handlers_.erase(id_);
    }
    connection_.reset();
    id_ = 0;
}

X11Connection::Opened X11Connection::tryOpen(const std::string& purpose,
                                             const std::optional<std::string>& displayName) {
    const char* environment = std::getenv("DISPLAY");
    const std::string name = displayName ? *displayName : (environment != nullptr ? environment : "");
    if (name.empty()) {
        return {nullptr, "DISPLAY is not set"};
    }
    int screenNumber = 0;
    XcbConnection connection(xcb_connect(name.c_str(), &screenNumber));
    if (xcb_connection_has_error(connection.get()) != 0) {
        return {nullptr, "cannot open the X display " + name};
    }
    auto roots = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int index = 0; index < screenNumber && roots.rem > 0; ++index) {
        xcb_screen_next(&roots);
    }
    if (roots.rem == 0) {
        return {nullptr, "the X display " + name + " has no screen " + std::to_string(screenNumber)};
    }
    return {std::shared_ptr<X11Connection>(new X11Connection(std::move(connection), roots.data, screenNumber, purpose)),
            {}};
}

std::shared_ptr<X11Connection> X11Connection::open(const std::string& purpose,
                                                   const std::optional<std::string>& displayName) {
    auto opened = tryOpen(purpose, displayName);
    if (!opened.connection) {
        diagnosticLog().warn("{}: {}", purpose, opened.failure);
    }
    return std::move(opened.connection);
}

X11Connection::X11Connection(XcbConnection connection, xcb_screen_t* screen, int screenNumber, std::string purpose)
    : connection_(std::move(connection)), screen_(screen), screenNumber_(screenNumber), purpose_(std::move(purpose)) {}

X11Connection::~X11Connection() = default;

bool X11Connection::broken() const {
    return xcb_connection_has_error(connection_.get()) != 0;
}

std::optional<std::uint8_t> X11Connection::extension(xcb_extension_t& extension) const {
    const auto* data = xcb_get_extension_data(connection_.get(), &extension);
    if (data == nullptr || data->present == 0) {
        return std::nullopt;
    }
    return data->first_event;
}

bool X11Connection::check(xcb_void_cookie_t cookie, std::string_view what) const {
    const XcbError error(xcb_request_check(connection_.get(), cookie));
    if (error) {
        diagnosticLog().warn("{} ({})", what, describe(*error));
        return false;
    }
    return true;
}

std::string X11Connection::describe(const xcb_generic_error_t& error) {
    return "X error " + std::to_string(error.error_code) + " on request " + std::to_string(error.major_code) + "." +
           std::to_string(error.minor_code);
}

void X11Connection::selectRootEvents(std::uint32_t mask) {
    if ((rootEventMask_ | mask) == rootEventMask_) {
        return;
    }
    rootEventMask_ |= mask;
    xcb_change_window_attributes(connection_.get(), root(), XCB_CW_EVENT_MASK, &rootEventMask_);
    xcb_flush(connection_.get());
}

X11Connection::Subscription X11Connection::subscribe(std::uint8_t type, EventHandler handler) {
    assert(std::this_thread::get_id() == thread_ && "an X connection lives on the thread that opened it");
    const auto id = nextHandler_++;
    handlers_.emplace(id, Handler{type, std::move(handler)});
    return {weak_from_this(), id};
}

void X11Connection::dispatch(const xcb_generic_event_t& event) {
    const auto type = static_cast<std::uint8_t>(event.response_type & 0x7FU);
    if (type == 0) {
        diagnosticLog().debug("{}: {}", purpose_, describe(reinterpret_cast<const xcb_generic_error_t&>(event)));
        return;
    }
    // A handler may end subscriptions, its own included: look each one up again before calling it.
    std::vector<std::uint64_t> receivers;
    for (const auto& [id, handler] : handlers_) {
        if (handler.type == type) {
            receivers.push_back(id);
        }
    }
    for (const auto id : receivers) {
        const auto found = handlers_.find(id);
        if (found != handlers_.end()) {
            const EventHandler handle = found->second.handle;
            handle(event);
        }
    }
}

void X11Connection::dispatchPending() {
    assert(std::this_thread::get_id() == thread_ && "an X connection lives on the thread that opened it");
    while (const XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_.get())}) {
        dispatch(*event);
    }
}

bool X11Connection::dispatchUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        dispatchPending();
        if (done()) {
            return true;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (broken() || left.count() <= 0) {
            return false;
        }
        // Nothing is queued now (dispatchPending emptied the queue and nothing read since), so
        // what comes next arrives on the socket.
        pollfd descriptor{xcb_get_file_descriptor(connection_.get()), POLLIN, 0};
        ::poll(&descriptor, 1, static_cast<int>(left.count()) + 1);
    }
}

SharedConnection::SharedConnection(std::optional<std::string> displayName) : displayName_(std::move(displayName)) {
    connection_ = X11Connection::open("x11", displayName_);
    outageLogged_ = connection_ == nullptr;
}

std::shared_ptr<X11Connection> SharedConnection::reopened() {
    if (connection_ && !connection_->broken()) {
        return connection_;
    }
    if (connection_ && !outageLogged_) {
        diagnosticLog().info("x11: the connection to the X display broke; opening it again");
    }
    connection_.reset();
    auto opened = X11Connection::tryOpen("x11", displayName_);
    if (!opened.connection) {
        if (!outageLogged_) {
            outageLogged_ = true;
            diagnosticLog().warn("x11: {}", opened.failure);
        }
        return nullptr;
    }
    if (outageLogged_) {
        diagnosticLog().info("x11: the X display can be reached again");
    }
    outageLogged_ = false;
    connection_ = std::move(opened.connection);
    return connection_;
}

}  // namespace vantrel::x11
