#pragma once

#include <ostream>

#include "Input/WindowFollower.hpp"

namespace vantrel {

// Readable failure messages for the follower's values.
inline void PrintTo(const Rect& rect, std::ostream* out) {
    *out << "{" << rect.x << ", " << rect.y << ", " << rect.width << "x" << rect.height << "}";
}

inline void PrintTo(const FollowDecision& decision, std::ostream* out) {
    *out << "display " << decision.display << " for ";
    PrintTo(decision.window, out);
}

}  // namespace vantrel
