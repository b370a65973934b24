#pragma once

#include <chrono>
#include <optional>

namespace vantrel {

// When and how often the streamer refines a still picture (see CapturePolicy).
struct RefinementTiming {
    // About fifteen frames at 60 per second: long enough that a pause between keystrokes does
    // not start it, short enough that the text is sharp before the eye settles on it.
    std::chrono::nanoseconds refinementDelay = std::chrono::milliseconds(250);
    // Each pass is credited the time since the one before: ten a second give x264 budgets big
    // enough to lower its quantizer by a step per pass.
    std::chrono::nanoseconds refinementInterval = std::chrono::milliseconds(100);
    int maxRefinementPasses = 20;
};

// Decides, tick by tick, what the screen streamer does, with time passed in so the rules are
// tested with plain values. A tick either grabs and encodes a frame (the screen changed, or the
// stream needs its first picture), re-encodes the last frame as a refinement pass, or does
// nothing: a still screen costs no encoding, and with a capturer that reports news, no looks.
//
// Refinement: once the screen has been still for refinementDelay since the last encoded frame,
// the last frame is encoded again, and again every refinementInterval while the encoder says
// another pass would still sharpen it (at most maxRefinementPasses), so text that the motion left
// blurred ends sharp. Passes wait while the server is holding frames back.
class CapturePolicy {
public:
    using Clock = std::chrono::steady_clock;
    enum class Action { none, grab, refine };

    explicit CapturePolicy(RefinementTiming timing = {}) : timing_(timing) {}

    // A new stream, or a new area: the next tick grabs whatever the screen says.
    void restart();

    // What this tick does. screenChanged covers the picture and the pointer; congested means the
    // server is holding frames back, when a refinement would only add to its backlog.
    [[nodiscard]] Action onTick(Clock::time_point now, bool screenChanged, bool congested);

    // A picture was encoded at now: a grabbed frame, or the last one again for a key frame. Either
    // has the motion's quality, so refinement starts over.
    void encoded(Clock::time_point now);

    // A refinement pass that started at started was encoded; sharpenable says whether another
    // would still help. A pass that started before the latest encoded() says nothing about the
    // picture now, and changes nothing.
    void refined(Clock::time_point started, bool sharpenable);

    // After a tick at now, for a streamer that can wait for the screen's news: none when it must
    // tick again one interval on (the screen or pointer changed this tick, the first picture is
    // owed, or a refinement is due and held back), else the latest time to look again should no
    // news come first: longest from now, or sooner for a refinement. A still screen thus costs no
    // looks at all between its refinements.
    [[nodiscard]] std::optional<Clock::time_point> restUntil(Clock::time_point now, bool changed,
                                                             std::chrono::nanoseconds longest) const;

    // The tick after one served at served: one interval later, or, when the queue fell behind,
    // the latest such deadline already passed, so that late ticks are dropped, not bunched.
    [[nodiscard]] static Clock::time_point nextTick(Clock::time_point served, Clock::time_point now,
                                                    std::chrono::nanoseconds interval);

private:
    RefinementTiming timing_;
    bool needsFirstFrame_ = true;
    std::optional<Clock::time_point> nextRefinement_;
    std::optional<Clock::time_point> lastEncoded_;
    int passes_ = 0;
};

}  // namespace vantrel
