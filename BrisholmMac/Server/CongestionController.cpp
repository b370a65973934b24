#include "CongestionController.hpp"

#include <algorithm>
#include <utility>

namespace vantrel {

CongestionController::CongestionController(Nanoseconds now) : windowStart_(now) {}

void CongestionController::reset(Nanoseconds now) {
    framesInFlight_ = 0;
    clientAcksFrames_ = false;
    droppingUntilKeyframe_ = true;
    keyframeOwed_ = false;
    heldBack_ = false;
    bitrate_ = initialBitrate;
    congestedInWindow_ = false;
    windowStart_ = now;
}

void CongestionController::frameAcknowledged() {
    clientAcksFrames_ = true;
    framesInFlight_ = std::max<std::int64_t>(framesInFlight_ - 1, 0);
}

bool CongestionController::keyframeRequestedByClient() {
    if (heldBack_) {
        keyframeOwed_ = true;
        return false;
    }
    return true;
}

std::int64_t CongestionController::backlog(std::int64_t pendingSends) const {
    return clientAcksFrames_ ? framesInFlight_ : pendingSends;
}

CongestionController::FrameDecision CongestionController::offerFrame(bool isKeyframe, std::int64_t pendingSends,
                                                                     Nanoseconds now) {
    FrameDecision decision;
    const std::int64_t currentBacklog = backlog(pendingSends);
    decision.newBitrate = adaptBitrate(currentBacklog, now);

    if (currentBacklog > dropBacklog && !droppingUntilKeyframe_) {
        droppingUntilKeyframe_ = true;
        ++decision.keyframeRequests;
    }
    if (droppingUntilKeyframe_) {
        heldBack_ = currentBacklog > resumeBacklog;
        if (heldBack_) {
            // Resuming now would only feed the backlog again: wait for a later key frame, and
            // ask for it once one can go out.
            keyframeOwed_ = keyframeOwed_ || isKeyframe;
            return decision;
        }
        if (!isKeyframe) {
            if (std::exchange(keyframeOwed_, false)) {
                ++decision.keyframeRequests;
            }
            return decision;
        }
        droppingUntilKeyframe_ = false;
        keyframeOwed_ = false;
    }
    ++framesInFlight_;
    decision.send = true;
    return decision;
}

std::optional<std::int64_t> CongestionController::adaptBitrate(std::int64_t currentBacklog, Nanoseconds now) {
    // The frame that closes a window still counts towards it.
    if (currentBacklog > congestionBacklog) {
        congestedInWindow_ = true;
    }
    if (now - windowStart_ <= windowLength) {
        return std::nullopt;
    }
    windowStart_ = now;
    // Integer arithmetic on 64 bits: within the bitrate range the products cannot overflow.
    const std::int64_t next = congestedInWindow_ ? std::max(bitrate_ * 6 / 10, minimumBitrate)
                                                 : std::min(bitrate_ * 110 / 100, maximumBitrate);
    congestedInWindow_ = false;
    if (next == bitrate_) {
        return std::nullopt;
    }
    bitrate_ = next;
    return next;
}

}  // namespace vantrel
