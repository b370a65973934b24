#include "Backends/wlroots/WlrootsSessionChecks.hpp"

#include <virtual-keyboard-unstable-v1-client-protocol.h>
#include <wlr-screencopy-unstable-v1-client-protocol.h>
#include <wlr-virtual-pointer-unstable-v1-client-protocol.h>

#include <algorithm>

#include "Backends/wlroots/MainConnection.hpp"

namespace vantrel::wayland {

bool WlrootsSessionChecks::offers(std::initializer_list<const char*> interfaces) {
    auto* connection = connection_->get();
    return connection != nullptr && connection->dispatchPending() &&
           std::all_of(interfaces.begin(), interfaces.end(),
                       [&](const char* interface) { return connection->find(interface).has_value(); });
}

bool WlrootsSessionChecks::screenReadable() {
    return offers({zwlr_screencopy_manager_v1_interface.name});
}

bool WlrootsSessionChecks::offersSyntheticInput() {
    return offers({zwlr_virtual_pointer_manager_v1_interface.name, zwp_virtual_keyboard_manager_v1_interface.name});
}

}  // namespace vantrel::wayland
