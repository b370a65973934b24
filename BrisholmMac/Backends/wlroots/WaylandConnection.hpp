#pragma once

#include <wayland-client.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "Backends/wlroots/WaylandProxies.hpp"

namespace vantrel::wayland {

// One global object the compositor announces in its registry.
struct Global {
    std::uint32_t name = 0;  // the registry's number for it, unique while it exists
    std::string interface;
    std::uint32_t version = 0;
};

// One connection to the Wayland compositor: opening it with one logged reason when that fails, the
// registry's globals (kept up to date, with news of outputs and seats coming and going), binding
// them, and reading what the compositor sent. Every proxy made on the connection delivers its
// events to its own listener while the owner dispatches, so users share a connection without
// taking each other's events.
//
// A connection that broke (the compositor went away, or it ended us for a protocol error) stays
// broken. Lives on one thread: the main thread for the backend's shared connection, the capture
// queue for a capturer's own.
class WaylandConnection {
public:
    using GlobalAdded = std::function<void(const Global& global)>;
    using GlobalRemoved = std::function<void(std::uint32_t name)>;

    // Connects to the compositor named displayName (WAYLAND_DISPLAY when none) and reads its
    // registry. Null, with one log line naming purpose and the reason, when it cannot.
    [[nodiscard]] static std::unique_ptr<WaylandConnection> open(const std::string& purpose,
                                                                 const std::optional<std::string>& displayName = {});
    // The interfaces a compositor offers, or none when it does not answer (no log line: the
    // session's first look decides what to say).
    [[nodiscard]] static std::optional<std::vector<std::string>> offeredInterfaces(
        const std::optional<std::string>& displayName = {});

    ~WaylandConnection();
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;

    [[nodiscard]] wl_display* display() const { return display_; }
    [[nodiscard]] const std::string& purpose() const { return purpose_; }
    // Whether the connection failed; the reason went to the log once.
    [[nodiscard]] bool broken() const;
    // The descriptor that turns readable when the compositor sent something.
    [[nodiscard]] int descriptor() const { return wl_display_get_fd(display_); }

    [[nodiscard]] const std::map<std::uint32_t, Global>& globals() const { return globals_; }
    // The first global of interface, none when the compositor offers none.
    [[nodiscard]] std::optional<Global> find(std::string_view interface) const;
    // Binds global at the lower of its version and maxVersion; the caller casts to the interface's
    // proxy type (the binders below do).
    [[nodiscard]] void* bind(const Global& global, const wl_interface& interface, std::uint32_t maxVersion) const;
    // Binds the first global of interface.name, null when the compositor offers none.
    template <typename Proxy>
    [[nodiscard]] Proxy* bindFirst(const wl_interface& interface, std::uint32_t maxVersion) const {
        const auto global = find(interface.name);
        return global ? static_cast<Proxy*>(bind(*global, interface, maxVersion)) : nullptr;
    }

    // Tells added of every global that comes after open() (the ones at open() are in globals())
    // and removed of every one that goes. The listeners live at least as long as the connection.
    void followGlobals(GlobalAdded added, GlobalRemoved removed);

    // Sends what is queued and waits until the compositor has answered everything sent before,
    // dispatching what comes meanwhile. False when the connection broke.
    bool roundtrip();
    // Sends what is queued, reads whatever has arrived without waiting and dispatches it. False
    // when the connection broke.
    bool dispatchPending();
    // Dispatches events as they come until done() holds, the connection breaks or timeout passes;
    // says whether done() holds.
    bool dispatchUntil(std::chrono::milliseconds timeout, const std::function<bool()>& done);
    // Sends what is queued. False when the connection broke.
    bool flush();
    // Sends what is queued, waiting up to timeout while the compositor's socket is full, so that
    // the next requests fit: libwayland ends a connection whose buffer fills up while the socket
    // is full, so a client that sends faster than the compositor reads must wait here first.
    // False when the socket stayed full (the connection stays usable) or the connection broke.
    bool makeRoom(std::chrono::milliseconds timeout);

private:
    WaylandConnection(wl_display* display, std::string purpose);
    static void handleGlobal(void* data, wl_registry* registry, std::uint32_t name, const char* interface,
                             std::uint32_t version);
    static void handleGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);
    // Reads what the socket holds, waiting at most timeout; false when the connection broke.
    bool readEvents(std::chrono::milliseconds timeout);
    void noteBroken() const;

    wl_display* display_;
    std::string purpose_;
    ProxyPtr<wl_registry> registry_;
    std::map<std::uint32_t, Global> globals_;
    bool started_ = false;  // the registry's first burst has been read
    std::vector<GlobalAdded> added_;
    std::vector<GlobalRemoved> removed_;
    mutable bool reportedBroken_ = false;
};

}  // namespace vantrel::wayland
