#pragma once

#include <memory>
#include <optional>

#include "Platform/SessionChecks.hpp"

namespace vantrel::x11 {

class SharedConnection;

// The desktop host's quick questions to the X display, on the backend's shared connection, which
// is opened again at the next question when it broke. Permissions: the screen can be read when a
// one-pixel grab of the root window succeeds; synthetic input needs the XTEST extension.
//
// Lives on the main thread.
class X11SessionChecks final : public SessionChecks {
public:
    explicit X11SessionChecks(std::shared_ptr<SharedConnection> shared);

    [[nodiscard]] bool screenReadable() override;
    [[nodiscard]] bool offersSyntheticInput() override;
    [[nodiscard]] std::optional<Point> pointerLocation() override;

private:
    std::shared_ptr<SharedConnection> shared_;
};

}  // namespace vantrel::x11
