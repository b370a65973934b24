#pragma once

#include <ostream>

#include "Input/WindowFollower.hpp"

namespace vantrel {

// Readable failure messages for the follower's values (GoogleTest looks for this name).
inline void PrintTo(  // NOLINT(readability-identifier-naming)
    const FollowDecision& decision, std::ostream* out) {
    const Rect& w = decision.window;
    *out << "display " << decision.display << " for {" << w.x << ", " << w.y << ", " << w.width << "x" << w.height
         << "}";
}

}  // namespace vantrel
