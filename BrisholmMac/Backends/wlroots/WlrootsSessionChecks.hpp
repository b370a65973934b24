#pragma once

#include <initializer_list>
#include <memory>

#include "Platform/SessionChecks.hpp"

namespace vantrel::wayland {

class MainConnection;

// What the phone may do, from the globals the compositor offers now. Wayland tells no client where
// the pointer is, so the desk's pointer is never reported.
class WlrootsSessionChecks final : public SessionChecks {
public:
    explicit WlrootsSessionChecks(std::shared_ptr<MainConnection> connection) : connection_(std::move(connection)) {}

    bool screenReadable() override;
    bool offersSyntheticInput() override;
    std::optional<Point> pointerLocation() override { return std::nullopt; }

private:
    // Whether the compositor offers every one of interfaces now (one look at its news).
    bool offers(std::initializer_list<const char*> interfaces);

    std::shared_ptr<MainConnection> connection_;
};

}  // namespace vantrel::wayland
