#include "Host/FrameStages.hpp"

#include <algorithm>
#include <cstdio>

namespace vantrel {

namespace {

std::uint64_t since(std::uint64_t from, std::uint64_t to) {
    return to > from ? to - from : 0;
}

std::string millis(std::uint64_t micros) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(micros) / 1000.0);
    return text;
}

std::string stage(const char* name, const Percentiles& values) {
    return std::string("; ") + name + " p50 " + millis(values.p50) + " p95 " + millis(values.p95) + " max " +
           millis(values.max) + " ms";
}

}  // namespace

Percentiles percentilesOf(std::vector<std::uint64_t> values) {
    if (values.empty()) {
        return {};
    }
    std::sort(values.begin(), values.end());
    const auto rank = [&](std::size_t percent) {
        // The smallest value with at least percent of the series at or below it.
        const std::size_t count = (values.size() * percent + 99) / 100;
        return values[std::max<std::size_t>(count, 1) - 1];
    };
    return {rank(50), rank(95), values.back()};
}

std::string StageSummary::describe() const {
    char head[96];
    std::snprintf(head, sizeof head, "stages: %llu frames sent (%llu held back) in %.2f s",
                  static_cast<unsigned long long>(sent), static_cast<unsigned long long>(notSent),
                  static_cast<double>(windowMicros) / 1e6);
    return head + stage("convert", convert) + stage("encode", encode) + stage("send", send) +
           stage("grab to socket", total);
}

void FrameStages::encoded(std::uint64_t grabbed, std::uint64_t converted, std::uint64_t encoded) {
    std::optional<StageSummary> summary;
    {
        std::lock_guard guard(lock_);
        summary = closeWindowIfDue(encoded);
        pending_.push_back({grabbed, converted, encoded, 0});
        if (pending_.size() > pendingLimit) {
            pending_.pop_front();
            ++window_->notSent;
        }
    }
    if (summary && onSummary) {
        onSummary(*summary);
    }
}

std::optional<FrameStamps> FrameStages::sent(std::uint64_t grabbed, std::uint64_t sent) {
    std::optional<StageSummary> summary;
    std::optional<FrameStamps> stamps;
    {
        std::lock_guard guard(lock_);
        summary = closeWindowIfDue(sent);
        const auto found = std::find_if(pending_.begin(), pending_.end(),
                                        [grabbed](const FrameStamps& frame) { return frame.grabbed == grabbed; });
        if (found != pending_.end()) {
            stamps = *found;
            stamps->sent = sent;
            // Frames before it were held back by the server: they will not be sent any more.
            window_->notSent += static_cast<std::uint64_t>(found - pending_.begin());
            pending_.erase(pending_.begin(), found + 1);
            window_->convert.push_back(since(stamps->grabbed, stamps->converted));
            window_->encode.push_back(since(stamps->converted, stamps->encoded));
            window_->send.push_back(since(stamps->encoded, sent));
            window_->total.push_back(since(stamps->grabbed, sent));
        }
    }
    if (summary && onSummary) {
        onSummary(*summary);
    }
    return stamps;
}

std::optional<StageSummary> FrameStages::closeWindowIfDue(std::uint64_t now) {
    if (!window_) {
        window_ = Window{now, 0, {}, {}, {}, {}};
        return std::nullopt;
    }
    if (since(window_->start, now) < windowMicros_) {
        return std::nullopt;
    }
    auto& closing = *window_;
    StageSummary summary{since(closing.start, now),
                         closing.total.size(),
                         closing.notSent,
                         percentilesOf(std::move(closing.convert)),
                         percentilesOf(std::move(closing.encode)),
                         percentilesOf(std::move(closing.send)),
                         percentilesOf(std::move(closing.total))};
    window_ = Window{now, 0, {}, {}, {}, {}};
    return summary;
}

}  // namespace vantrel
