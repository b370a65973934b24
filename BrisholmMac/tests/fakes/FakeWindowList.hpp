#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/WindowList.hpp"

namespace vantrel::testing {

// A desktop whose windows and front application the test sets directly; they stay as set until
// changed. Main thread only, like the real one.
class FakeWindowList final : public WindowList {
public:
    std::optional<std::vector<Window>> windows() override {
        ++reads;
        return onScreen;
    }
    FrontApplication frontApplication() override { return front; }
    std::optional<std::string> fileBrowserId() override { return fileBrowser; }

    std::optional<std::vector<Window>> onScreen = std::vector<Window>{};  // absent: the list cannot be read
    FrontApplication front;
    std::optional<std::string> fileBrowser;
    int reads = 0;  // how often the list was read
};

}  // namespace vantrel::testing
