#pragma once

#include <functional>
#include <optional>

#include "Platform/SessionChecks.hpp"

namespace vantrel::testing {

// A session whose answers the test sets; the pointer is read from where the test's input device
// put it when one is given.
class FakeSessionChecks final : public SessionChecks {
public:
    bool readable = true;
    bool synthetic = true;
    std::function<std::optional<Point>()> pointer = [] { return std::optional<Point>(); };

    bool screenReadable() override { return readable; }
    bool offersSyntheticInput() override { return synthetic; }
    std::optional<Point> pointerLocation() override { return pointer(); }
};

}  // namespace vantrel::testing
