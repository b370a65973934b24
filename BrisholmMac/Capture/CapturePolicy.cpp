#include "CapturePolicy.hpp"

namespace vantrel {

void CapturePolicy::restart() {
    needsFirstFrame_ = true;
    lastEncoded_.reset();
    refinementDone_ = false;
}

CapturePolicy::Action CapturePolicy::onTick(Clock::time_point now, bool screenChanged, bool congested) {
    if (needsFirstFrame_ || screenChanged) {
        return Action::grab;
    }
    if (lastEncoded_ && !refinementDone_ && !congested && now - *lastEncoded_ >= refinementDelay_) {
        return Action::refine;
    }
    return Action::none;
}

void CapturePolicy::encoded(Clock::time_point now) {
    needsFirstFrame_ = false;
    lastEncoded_ = now;
    refinementDone_ = false;
}

void CapturePolicy::refined() {
    refinementDone_ = true;
}

CapturePolicy::Clock::time_point CapturePolicy::nextTick(Clock::time_point served, Clock::time_point now,
                                                         std::chrono::nanoseconds interval) {
    const auto next = served + interval;
    if (next > now) {
        return next;
    }
    return next + interval * ((now - next) / interval);
}

}  // namespace vantrel
