#pragma once

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
    bool offers(const char* interface);

    std::shared_ptr<MainConnection> connection_;
};

}  // namespace vantrel::wayland
