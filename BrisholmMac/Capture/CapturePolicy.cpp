#include "CapturePolicy.hpp"

#include <algorithm>

namespace vantrel {

void CapturePolicy::restart() {
    needsFirstFrame_ = true;
    nextRefinement_.reset();
    passes_ = 0;
}

CapturePolicy::Action CapturePolicy::onTick(Clock::time_point now, bool screenChanged, bool congested) {
    if (needsFirstFrame_ || screenChanged) {
        return Action::grab;
    }
    if (nextRefinement_ && !congested && now >= *nextRefinement_) {
        return Action::refine;
    }
    return Action::none;
}

void CapturePolicy::encoded(Clock::time_point now) {
    needsFirstFrame_ = false;
    lastEncoded_ = now;
    nextRefinement_ = now + timing_.refinementDelay;
    passes_ = 0;
}

void CapturePolicy::refined(Clock::time_point started, bool sharpenable) {
    if (lastEncoded_ && started < *lastEncoded_) {
        return;
    }
    ++passes_;
    if (sharpenable && passes_ < timing_.maxRefinementPasses) {
        nextRefinement_ = started + timing_.refinementInterval;
    } else {
        nextRefinement_.reset();
    }
}

std::optional<CapturePolicy::Clock::time_point> CapturePolicy::restUntil(Clock::time_point now, bool changed,
                                                                         std::chrono::nanoseconds longest) const {
    if (changed || needsFirstFrame_) {
        return std::nullopt;
    }
    const auto latest = now + longest;
    if (!nextRefinement_) {
        return latest;
    }
    if (*nextRefinement_ <= now) {
        return std::nullopt;  // due, and waiting for the server or the encoder: asked every tick
    }
    return std::min(latest, *nextRefinement_);
}

CapturePolicy::Clock::time_point CapturePolicy::nextTick(Clock::time_point served, Clock::time_point now,
                                                         std::chrono::nanoseconds interval) {
    const auto next = served + interval;
    if (next > now) {
        return next;
    }
    // Behind schedule, as a repeating timer would be: one tick at once for the latest deadline
    // already passed, the ones before it skipped, and the schedule keeps its phase.
    return next + interval * ((now - next) / interval);
}

}  // namespace vantrel
