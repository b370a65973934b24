#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "Backends/wlroots/ForeignToplevels.hpp"
#include "Backends/wlroots/WaylandConnection.hpp"
#include "Backends/wlroots/WaylandOutputs.hpp"

namespace vantrel::wayland {

// The connection the main-thread parts of the wlroots backend share (displays, session checks,
// windows; the input device keeps its own), with the outputs followed on it. When the compositor
// went away, the next user opens a new one, at most once a second, so a session without its
// compositor costs one failed connect per second and one log line.
//
// Lives on the main thread.
class MainConnection {
public:
    explicit MainConnection(std::optional<std::string> displayName = {}) : displayName_(std::move(displayName)) {}

    // The connection, opened again when it broke; null while the compositor does not answer.
    [[nodiscard]] WaylandConnection* get();
    // The outputs followed on get()'s connection; null without one.
    [[nodiscard]] WaylandOutputs* outputs();
    // The windows followed on get()'s connection, from the first call on (binding the compositor's
    // window list costs a round trip); null without a connection.
    [[nodiscard]] ForeignToplevels* toplevels();

private:
    std::optional<std::string> displayName_;
    std::unique_ptr<WaylandConnection> connection_;
    std::unique_ptr<WaylandOutputs> outputs_;
    std::unique_ptr<ForeignToplevels> toplevels_;  // its proxies go before the connection does
    std::optional<std::chrono::steady_clock::time_point> lastAttempt_;
};

}  // namespace vantrel::wayland
