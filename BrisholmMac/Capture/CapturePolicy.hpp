#pragma once

#include <chrono>
#include <optional>

namespace vantrel {

// Decides, tick by tick, what the screen streamer does, with time passed in so the rules are
// tested with plain values. A tick either grabs and encodes a frame (the screen changed, or the
// stream needs its first picture), re-encodes the last frame as a refinement (the screen has been
// still for refinementDelay since the last encoded frame and that picture was not refined yet),
// or does nothing: a still screen costs no encoding.
class CapturePolicy {
public:
    using Clock = std::chrono::steady_clock;
    enum class Action { none, grab, refine };

    // About four frames at 60 per second: long enough that a pause between keystrokes does not
    // trigger it, short enough that the text is sharp before the eye settles on it.
    static constexpr std::chrono::milliseconds defaultRefinementDelay{250};

    explicit CapturePolicy(std::chrono::nanoseconds refinementDelay = defaultRefinementDelay)
        : refinementDelay_(refinementDelay) {}

    // A new stream, or a new area: the next tick grabs whatever the screen says.
    void restart();

    // What this tick does. screenChanged covers the picture and the pointer; congested means the
    // server is holding frames back, when a refinement would only add to its backlog (it waits
    // until the congestion clears, as long as the screen stays still).
    [[nodiscard]] Action onTick(Clock::time_point now, bool screenChanged, bool congested);

    // A picture was encoded at now: a grabbed frame, or the last one again for a key frame. Either
    // is the motion's quality, so the refinement clock starts over. After a refinement call
    // refined() instead.
    void encoded(Clock::time_point now);
    void refined();

    // The tick after one served at served: one interval later, or, when the queue fell behind,
    // the latest such deadline already passed, so that late ticks are dropped, not bunched.
    [[nodiscard]] static Clock::time_point nextTick(Clock::time_point served, Clock::time_point now,
                                                    std::chrono::nanoseconds interval);

private:
    std::chrono::nanoseconds refinementDelay_;
    bool needsFirstFrame_ = true;
    std::optional<Clock::time_point> lastEncoded_;
    bool refinementDone_ = false;
};

}  // namespace vantrel
