#include "EncodeHandoff.hpp"

#include <utility>

namespace vantrel {

std::optional<EncodeJob> EncodeHandoff::offer(EncodeJob job) {
    if (!running_) {
        running_ = true;
        return job;
    }
    switch (job.kind) {
        case EncodeJob::Kind::frame:
            if (waiting_ && waiting_->kind == EncodeJob::Kind::frame) {
                ++replaced_;
            }
            waiting_ = std::move(job);
            break;
        case EncodeJob::Kind::keyframe:
            if (!waiting_) {
                waiting_ = std::move(job);
            }
            break;
        case EncodeJob::Kind::refinement: break;
    }
    return std::nullopt;
}

std::optional<EncodeJob> EncodeHandoff::finished() {
    if (!waiting_) {
        running_ = false;
        return std::nullopt;
    }
    auto next = std::move(*waiting_);
    waiting_.reset();
    return next;
}

void EncodeHandoff::clear() {
    waiting_.reset();
}

}  // namespace vantrel
