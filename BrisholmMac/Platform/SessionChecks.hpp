#pragma once

#include <optional>

#include "Geometry/Geometry.hpp"
#include "Platform/DescriptorNews.hpp"

namespace vantrel {

// The desktop host's quick questions to the desktop session, asked every few seconds (what the
// phone may do) or twenty times a second while it moves (where the desk's pointer is). Each answers from the
// session as it is now; a session that cannot be reached answers no.
//
// Lives on the main thread.
class SessionChecks {
public:
    virtual ~SessionChecks() = default;

    // Whether the screen can be read (the phone can watch).
    [[nodiscard]] virtual bool screenReadable() = 0;
    // Whether the session takes synthetic input (the phone can control, once the input device is
    // open as well).
    [[nodiscard]] virtual bool offersSyntheticInput() = 0;
    // Where the desk's pointer is, in desktop points; none when it cannot be read.
    [[nodiscard]] virtual std::optional<Point> pointerLocation() = 0;
    // Where the host may rest between pointer questions while the pointer stands still, asked
    // after each answer: news when the session reports motion, and the longest a pointer moved
    // without any (a warp) may go unseen. None when the session cannot tell (the host then asks
    // twenty times a second throughout), or when it has news already.
    [[nodiscard]] virtual std::optional<DescriptorNews> pointerNews() { return std::nullopt; }
};

}  // namespace vantrel
