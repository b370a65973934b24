#pragma once

#include <memory>

#include "Capture/Displays.hpp"

namespace vantrel::wayland {

class MainConnection;

// The compositor's outputs as the host's displays, read through the backend's main-thread
// connection at each call (a round trip, so an output plugged in a moment ago is listed). Wayland
// has no primary output: the first one announced leads.
class WlrootsDisplays final : public Displays {
public:
    explicit WlrootsDisplays(std::shared_ptr<MainConnection> connection) : connection_(std::move(connection)) {}

protected:
    std::vector<MonitorFacts> monitors() override;

private:
    std::shared_ptr<MainConnection> connection_;
};

}  // namespace vantrel::wayland
