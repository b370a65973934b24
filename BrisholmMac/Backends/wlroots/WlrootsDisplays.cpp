#include "Backends/wlroots/WlrootsDisplays.hpp"

#include "Backends/wlroots/MainConnection.hpp"

namespace vantrel::wayland {

std::vector<MonitorFacts> WlrootsDisplays::monitors() {
    auto* connection = connection_->get();
    if (connection == nullptr || !connection->roundtrip()) {
        return {};
    }
    // An output plugged in during that round trip was bound in it; its facts take one more.
    if (!connection_->outputs()->settled() && !connection->roundtrip()) {
        return {};
    }
    std::vector<MonitorFacts> monitors;
    for (const auto& output : connection_->outputs()->outputs()) {
        monitors.push_back(monitorFacts(output));
    }
    return monitors;
}

}  // namespace vantrel::wayland
