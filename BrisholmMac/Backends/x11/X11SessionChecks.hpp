#pragma once

#include <chrono>
#include <memory>
#include <optional>

#include "Backends/x11/X11Connection.hpp"
#include "Platform/SessionChecks.hpp"

namespace vantrel::x11 {

// The desktop host's quick questions to the X display, on the backend's shared connection, which
// is opened again at the next question when it broke. Permissions: the screen can be read when a
// one-pixel grab of the root window succeeds; synthetic input needs the XTEST extension. The
// pointer's place, asked 20 times a second while a phone is connected and the pointer moves, is
// read from the server only after it reported pointer motion (XInput 2 raw motion), and at least
// once a second for a pointer warped without any: a still pointer costs no round trip. The
// connection's descriptor is the pointer news the host rests on while the pointer stands still.
// Motion nobody asks about (no phone) is read off with the other events at the next permission
// check, every few seconds.
//
// Lives on the main thread.
class X11SessionChecks final : public SessionChecks {
public:
    // askAtLeastEvery: how long a place read from the server stands without motion reported.
    explicit X11SessionChecks(std::shared_ptr<SharedConnection> shared,
                              std::chrono::milliseconds askAtLeastEvery = std::chrono::seconds(1));

    [[nodiscard]] bool screenReadable() override;
    [[nodiscard]] bool offersSyntheticInput() override;
    [[nodiscard]] std::optional<Point> pointerLocation() override;
    [[nodiscard]] std::optional<DescriptorNews> pointerNews() override;

private:
    std::shared_ptr<SharedConnection> shared_;
    const std::chrono::milliseconds askAtLeastEvery_;
    // The connection raw motion is watched on (a new one after a break), and what it said.
    std::shared_ptr<X11Connection> watched_;
    std::optional<X11Connection::Subscription> motion_;
    bool moved_ = true;
    std::optional<Point> pointer_;
    std::chrono::steady_clock::time_point askedAt_;
};

}  // namespace vantrel::x11
