#include "Backends/wlroots/MainConnection.hpp"

namespace vantrel::wayland {

WaylandConnection* MainConnection::get() {
    if (connection_ && !connection_->broken()) {
        return connection_.get();
    }
    const auto now = std::chrono::steady_clock::now();
    if (lastAttempt_ && now - *lastAttempt_ < std::chrono::seconds(1)) {
        return nullptr;
    }
    lastAttempt_ = now;
    toplevels_.reset();
    outputs_.reset();
    connection_ = WaylandConnection::open("desktop session", displayName_);
    if (connection_) {
        outputs_ = std::make_unique<WaylandOutputs>(*connection_);
    }
    return connection_.get();
}

WaylandOutputs* MainConnection::outputs() {
    return get() != nullptr ? outputs_.get() : nullptr;
}

ForeignToplevels* MainConnection::toplevels() {
    if (get() == nullptr) {
        return nullptr;
    }
    if (!toplevels_) {
        toplevels_ = std::make_unique<ForeignToplevels>(*connection_, *outputs_);
    }
    return toplevels_.get();
}

}  // namespace vantrel::wayland
