#include "Backends/wlroots/WaylandConnection.hpp"

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "Log/DiagnosticLog.hpp"

namespace vantrel::wayland {

namespace {

std::string displayLabel(const std::optional<std::string>& displayName) {
    if (displayName) {
        return *displayName;
    }
    const char* fromEnvironment = std::getenv("WAYLAND_DISPLAY");
    return fromEnvironment != nullptr ? fromEnvironment : "wayland-0";
}

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(const std::string& purpose,
                                                           const std::optional<std::string>& displayName) {
    wl_display* display = wl_display_connect(displayName ? displayName->c_str() : nullptr);
    if (display == nullptr) {
        diagnosticLog().warn("{}: cannot connect to the Wayland compositor {} ({})", purpose, displayLabel(displayName),
                             std::strerror(errno));
        return nullptr;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display, purpose));
    if (!connection->roundtrip()) {
        return nullptr;
    }
    connection->started_ = true;
    return connection;
}

std::optional<std::vector<std::string>> WaylandConnection::offeredInterfaces(
    const std::optional<std::string>& displayName) {
    wl_display* display = wl_display_connect(displayName ? displayName->c_str() : nullptr);
    if (display == nullptr) {
        return std::nullopt;
    }
    std::unique_ptr<WaylandConnection> connection(new WaylandConnection(display, "session"));
    if (wl_display_roundtrip(display) < 0) {
        return std::nullopt;
    }
    std::vector<std::string> interfaces;
    for (const auto& [name, global] : connection->globals_) {
        interfaces.push_back(global.interface);
    }
    return interfaces;
}

WaylandConnection::WaylandConnection(wl_display* display, std::string purpose)
    : display_(display), purpose_(std::move(purpose)), registry_(wl_display_get_registry(display)) {
    static const wl_registry_listener listener = {
        .global = &WaylandConnection::handleGlobal,
        .global_remove = &WaylandConnection::handleGlobalRemove,
    };
    wl_registry_add_listener(registry_.get(), &listener, this);
}

WaylandConnection::~WaylandConnection() {
    registry_.reset();
    wl_display_disconnect(display_);
}

void WaylandConnection::handleGlobal(void* data, wl_registry*, std::uint32_t name, const char* interface,
                                     std::uint32_t version) {
    auto& self = *static_cast<WaylandConnection*>(data);
    const Global global{name, interface, version};
    self.globals_[name] = global;
    if (self.started_) {
        for (const auto& added : self.added_) {
            added(global);
        }
    }
}

void WaylandConnection::handleGlobalRemove(void* data, wl_registry*, std::uint32_t name) {
    auto& self = *static_cast<WaylandConnection*>(data);
    self.globals_.erase(name);
    for (const auto& removed : self.removed_) {
        removed(name);
    }
}

void WaylandConnection::followGlobals(GlobalAdded added, GlobalRemoved removed) {
    added_.push_back(std::move(added));
    removed_.push_back(std::move(removed));
}

bool WaylandConnection::broken() const {
    return wl_display_get_error(display_) != 0;
}

void WaylandConnection::noteBroken() const {
    if (reportedBroken_) {
        return;
    }
    reportedBroken_ = true;
    const int error = wl_display_get_error(display_);
    if (error == EPROTO) {
        const wl_interface* interface = nullptr;
        std::uint32_t id = 0;
        const std::uint32_t code = wl_display_get_protocol_error(display_, &interface, &id);
        diagnosticLog().warn("{}: the Wayland compositor ended the connection for a protocol error ({} {}, code {})",
                             purpose_, interface != nullptr ? interface->name : "unknown interface", id, code);
    } else {
        diagnosticLog().warn("{}: the connection to the Wayland compositor broke ({})", purpose_,
                             std::strerror(error != 0 ? error : EPIPE));
    }
}

std::optional<Global> WaylandConnection::find(std::string_view interface) const {
    for (const auto& [name, global] : globals_) {
        if (global.interface == interface) {
            return global;
        }
    }
    return std::nullopt;
}

void* WaylandConnection::bind(const Global& global, const wl_interface& interface, std::uint32_t maxVersion) const {
    const std::uint32_t version = std::min({global.version, maxVersion, static_cast<std::uint32_t>(interface.version)});
    return wl_registry_bind(registry_.get(), global.name, &interface, version);
}

bool WaylandConnection::roundtrip() {
    if (wl_display_roundtrip(display_) < 0) {
        noteBroken();
        return false;
    }
    return true;
}

bool WaylandConnection::flush() {
    // EAGAIN only says the socket is full for now; what stays queued goes with the next flush.
    if (wl_display_flush(display_) < 0 && errno != EAGAIN) {
        noteBroken();
        return false;
    }
    return !broken();
}

bool WaylandConnection::makeRoom(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (wl_display_flush(display_) < 0) {
        if (errno != EAGAIN) {
            noteBroken();
            return false;
        }
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        pollfd watched{descriptor(), POLLOUT, 0};
        if (::poll(&watched, 1, static_cast<int>(left.count())) < 0 && errno != EINTR) {
            noteBroken();
            return false;
        }
    }
    return !broken();
}

bool WaylandConnection::readEvents(std::chrono::milliseconds timeout) {
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            noteBroken();
            return false;
        }
    }
    if (!flush()) {
        wl_display_cancel_read(display_);
        return false;
    }
    pollfd watched{descriptor(), POLLIN, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(timeout.count()));
    if (ready > 0) {
        if (wl_display_read_events(display_) < 0) {
            noteBroken();
            return false;
        }
    } else {
        wl_display_cancel_read(display_);
    }
    if (wl_display_dispatch_pending(display_) < 0) {
        noteBroken();
        return false;
    }
    return true;
}

bool WaylandConnection::dispatchPending() {
    return readEvents(std::chrono::milliseconds(0));
}

bool WaylandConnection::dispatchUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !readEvents(left)) {
            return done();
        }
    }
    return true;
}

}  // namespace vantrel::wayland
