#pragma once

#include <utility>
#include <vector>

#include "Capture/Displays.hpp"

namespace vantrel {

// Displays for tests: the monitors the test sets, as a display server would report them.
class FakeDisplays final : public Displays {
public:
    explicit FakeDisplays(std::vector<MonitorFacts> monitors = {}) : facts(std::move(monitors)) {}

    std::vector<MonitorFacts> facts;

protected:
    std::vector<MonitorFacts> monitors() override { return facts; }
};

}  // namespace vantrel
