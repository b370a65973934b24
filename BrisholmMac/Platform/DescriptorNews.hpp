#pragma once

#include <chrono>

namespace vantrel {

// Where a watcher may rest while nothing changes: a descriptor that turns readable when something
// may have changed, and how long the watcher may rest on it at most, for the changes that come
// without news.
struct DescriptorNews {
    int descriptor = -1;
    std::chrono::milliseconds atLeastEvery{std::chrono::seconds(1)};
};

}  // namespace vantrel
