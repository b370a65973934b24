#include "Backends/wlroots/WlrootsSessionChecks.hpp"

#include "Backends/wlroots/MainConnection.hpp"

namespace vantrel::wayland {

bool WlrootsSessionChecks::offers(const char* interface) {
    auto* connection = connection_->get();
    return connection != nullptr && connection->dispatchPending() && connection->find(interface).has_value();
}

bool WlrootsSessionChecks::screenReadable() {
    return offers("zwlr_screencopy_manager_v1");
}

bool WlrootsSessionChecks::offersSyntheticInput() {
    return offers("zwlr_virtual_pointer_manager_v1") && offers("zwp_virtual_keyboard_manager_v1");
}

}  // namespace vantrel::wayland
