#include "ScreenStreamer.hpp"

#include <unistd.h>

#include <asio/posix/stream_descriptor.hpp>
#include <cassert>
#include <cmath>
#include <utility>

#include "Log/DiagnosticLog.hpp"

namespace vantrel {

namespace {

CaptureError noDisplay() {
    return {CaptureError::Kind::noDisplay, "Kein Display gefunden"};
}

CaptureError unavailable() {
    return {CaptureError::Kind::unavailable, "Der Bildschirm kann nicht aufgenommen werden"};
}

CaptureError lost() {
    return {CaptureError::Kind::lost, "Die Verbindung zum Bildschirm ist abgebrochen"};
}

CaptureError displayGone() {
    return {CaptureError::Kind::displayGone, "Das Display wurde entfernt"};
}

}  // namespace

struct ScreenStreamer::NewsWatch {
    asio::posix::stream_descriptor descriptor;
};

std::shared_ptr<ScreenStreamer> ScreenStreamer::create(std::shared_ptr<VideoEncoder> encoder,
                                                       CapturerFactory makeCapturer, RefinementTiming timing,
                                                       std::optional<std::chrono::nanoseconds> interval) {
    return std::shared_ptr<ScreenStreamer>(
        new ScreenStreamer(std::move(encoder), std::move(makeCapturer), timing, interval));
}

ScreenStreamer::ScreenStreamer(std::shared_ptr<VideoEncoder> encoder, CapturerFactory makeCapturer,
                               RefinementTiming timing, std::optional<std::chrono::nanoseconds> interval)
    : encoder_(std::move(encoder)),
      makeCapturer_(std::move(makeCapturer)),
      interval_(interval && interval->count() > 0
                    ? *interval
                    : std::chrono::nanoseconds(std::chrono::seconds(1)) / encoder_->framesPerSecond()),
      policy_(timing) {}

ScreenStreamer::~ScreenStreamer() = default;

void ScreenStreamer::start(std::uint32_t displayId, Completion completion) {
    queue_.post([weak = weak_from_this(), displayId, completion = std::move(completion)] {
        if (auto self = weak.lock()) {
            self->startOnQueue(displayId, completion);
        }
    });
}

void ScreenStreamer::stop(std::function<void()> completion) {
    queue_.post([weak = weak_from_this(), completion = std::move(completion)]() mutable {
        auto self = weak.lock();
        if (!self) {
            if (completion) {
                completion();
            }
            return;
        }
        self->stopOnQueue();
        // Behind the encodes handed over before and the session's end, and back on the capture queue.
        self->encodeQueue_.post([weak, completion = std::move(completion)]() mutable {
            const auto self = weak.lock();
            if (!self) {
                if (completion) {
                    completion();  // nothing is left to wait for
                }
                return;
            }
            self->queue_.post([completion = std::move(completion)] {
                if (completion) {
                    completion();
                }
            });
        });
    });
}

void ScreenStreamer::stopAndWait() {
    queue_.sync([this] { stopOnQueue(); });
    encodeQueue_.sync([] {});
}

void ScreenStreamer::sendKeyframeNow() {
    encoder_->requestKeyframe();
    queue_.post([weak = weak_from_this()] {
        auto self = weak.lock();
        if (self && self->lastFrame_) {
            // Whichever frame reaches the encoder first takes the request: this one, or a fresh
            // grab that got onto the queue before it.
            const auto now = CapturePolicy::Clock::now();
            self->handOver({EncodeJob::Kind::keyframe, self->lastFrame_, now});
            self->policy_.encoded(now);
        }
    });
}

void ScreenStreamer::setCongested(bool congested) {
    congested_ = congested;
}

std::optional<std::uint32_t> ScreenStreamer::capturedDisplay() {
    std::optional<std::uint32_t> display;
    queue_.sync([&] {
        if (capturer_) {
            display = displayId_;
        }
    });
    return display;
}

void ScreenStreamer::checkQueue() const {
    assert(queue_.isCurrent() && "the streamer's state lives on its capture queue");
}

void ScreenStreamer::startOnQueue(std::uint32_t displayId, const Completion& completion) {
    checkQueue();
    auto finish = [&](std::optional<CaptureError> error) {
        if (completion) {
            completion(std::move(error));
        }
    };
    stopOnQueue();
    auto capturer = makeCapturer_ ? makeCapturer_() : nullptr;
    if (!capturer) {
        finish(unavailable());
        return;
    }
    const auto monitors = primaryFirst(capturer->monitors());
    if (monitors.empty()) {
        diagnosticLog().warn("capture: the display server reports no monitor");
        finish(noDisplay());
        return;
    }
    const MonitorFacts* chosen = &monitors.front();
    for (const auto& monitor : monitors) {
        if (monitor.id == displayId) {
            chosen = &monitor;
        }
    }
    if (chosen->id != displayId) {
        diagnosticLog().info("capture: no display {}, capturing display {} instead", displayId, chosen->id);
    }
    const auto size = streamSizeFor(std::llround(chosen->bounds.width), std::llround(chosen->bounds.height));
    if (capturer->watch(chosen->bounds, size) != CaptureStatus::ok) {
        diagnosticLog().warn("capture: cannot capture display {}", chosen->id);
        finish(unavailable());
        return;
    }
    capturer_ = std::move(capturer);
    displayId_ = chosen->id;
    area_ = chosen->bounds;
    policy_.restart();
    newsSource_ = capturer_->news();
    if (newsSource_) {
        // A duplicate: the descriptor stays the capturer's, and ours closes with the stream.
        if (const int descriptor = ::dup(newsSource_->descriptor); descriptor >= 0) {
            news_ =
                std::make_unique<NewsWatch>(NewsWatch{asio::posix::stream_descriptor(queue_.context(), descriptor)});
        } else {
            newsSource_.reset();
        }
    }
    encoder_->requestKeyframe();
    const auto generation = ++generation_;
    served_ = CapturePolicy::Clock::now();
    finish(std::nullopt);
    tick(generation);
}

void ScreenStreamer::stopOnQueue() {
    checkQueue();
    if (!capturer_) {
        return;
    }
    ++generation_;
    capturer_.reset();
    lastFrame_.reset();
    handoff_.clear();
    refining_ = false;
    stopResting();
    // After the encodes already handed over: the session goes with the stream.
    encodeQueue_.post([weak = weak_from_this()] {
        if (const auto self = weak.lock()) {
            self->encoder_->invalidateSession();
        }
    });
}

void ScreenStreamer::end(CaptureError error, const std::string& reason) {
    checkQueue();
    diagnosticLog().warn("capture: display {} stopped: {}", displayId_, reason);
    ++generation_;
    capturer_.reset();
    handoff_.clear();
    refining_ = false;
    stopResting();
    if (onStopped) {
        onStopped(std::move(error));
    }
}

bool ScreenStreamer::followMonitors() {
    for (const auto& monitor : capturer_->monitors()) {
        if (monitor.id != displayId_) {
            continue;
        }
        if (monitor.bounds != area_) {
            // Moved or resized: capture the new rectangle at its own stream size; the encoder makes
            // a new session (and a key frame) when the size changes.
            const auto size = streamSizeFor(std::llround(monitor.bounds.width), std::llround(monitor.bounds.height));
            if (capturer_->watch(monitor.bounds, size) != CaptureStatus::ok) {
                end(lost(), "the changed monitor cannot be captured");
                return false;
            }
            area_ = monitor.bounds;
            policy_.restart();
        }
        return true;
    }
    end(displayGone(), "the monitor was removed");
    return false;
}

void ScreenStreamer::tick(std::uint64_t generation) {
    checkQueue();
    if (generation != generation_ || !capturer_) {
        return;
    }
    const auto changes = capturer_->changes();
    if (changes.status == CaptureStatus::permanentError) {
        end(lost(), changes.reason);
        return;
    }
    if (changes.monitors && !followMonitors()) {
        return;
    }
    const auto now = CapturePolicy::Clock::now();
    if (changes.status == CaptureStatus::ok) {
        switch (policy_.onTick(now, changes.picture || changes.cursor, congested_)) {
            case CapturePolicy::Action::grab: {
                auto result = capturer_->grab();
                if (result.status == CaptureStatus::permanentError) {
                    end(lost(), result.reason);
                    return;
                }
                if (result.status == CaptureStatus::ok && result.frame) {
                    lastFrame_ = std::move(result.frame);
                    const auto grabbed = CapturePolicy::Clock::now();
                    // A frame the server would drop is not worth encoding; the key frame it
                    // resumes with is.
                    if (!congested_ || encoder_->keyframeRequested()) {
                        handOver({EncodeJob::Kind::frame, lastFrame_, grabbed});
                    }
                    policy_.encoded(grabbed);
                } else {
                    diagnosticLog().debug("capture: frame lost: {}", result.reason);
                }
                break;
            }
            case CapturePolicy::Action::refine: {
                if (!lastFrame_) {
                    policy_.refined(now, false);
                } else if (!refining_ && !handoff_.busy()) {
                    // Its outcome comes back with encoded(); until then ticks wait for it.
                    refining_ = true;
                    handOver({EncodeJob::Kind::refinement, lastFrame_, now});
                }
                break;
            }
            case CapturePolicy::Action::none: break;
        }
        // Nothing changed and nothing of the policy's own is due: rest on the capturer's news,
        // unless some already came in with this look.
        if (newsSource_ && !refining_) {
            const auto until = policy_.restUntil(now, changes.picture || changes.cursor, newsSource_->lookAtLeastEvery);
            if (until && !capturer_->newsPending()) {
                rest(*until);
                return;
            }
        }
    }
    schedule(generation);
}

void ScreenStreamer::rest(CapturePolicy::Clock::time_point until) {
    resting_ = true;
    const auto token = ++rest_;
    waitForNews();
    queue_.postAfter(until - CapturePolicy::Clock::now(), [weak = weak_from_this(), token] {
        const auto self = weak.lock();
        if (self && self->resting_ && self->rest_ == token) {
            self->wake();
        }
    });
}

void ScreenStreamer::waitForNews() {
    if (waitingForNews_ || !news_) {
        return;
    }
    waitingForNews_ = true;
    news_->descriptor.async_wait(asio::posix::stream_descriptor::wait_read,
                                 [weak = weak_from_this(), generation = generation_](const std::error_code& error) {
                                     const auto self = weak.lock();
                                     if (!self || error || generation != self->generation_) {
                                         return;  // the stream ended and took the descriptor with it
                                     }
                                     self->waitingForNews_ = false;
                                     if (self->resting_) {
                                         self->wake();
                                     }
                                 });
}

void ScreenStreamer::wake() {
    resting_ = false;
    ++rest_;
    // Paced as ever: at once when the last look is an interval ago, else one interval after it.
    const auto now = CapturePolicy::Clock::now();
    const auto generation = generation_;
    if (now >= served_ + interval_) {
        served_ = now;
        tick(generation);
        return;
    }
    served_ += interval_;
    queue_.postAfter(served_ - now, [weak = weak_from_this(), generation] {
        if (auto self = weak.lock()) {
            self->tick(generation);
        }
    });
}

void ScreenStreamer::stopResting() {
    resting_ = false;
    ++rest_;
    waitingForNews_ = false;
    news_.reset();  // cancels the wait: its handler sees an error
    newsSource_.reset();
}

void ScreenStreamer::handOver(EncodeJob job) {
    checkQueue();
    if (auto now = handoff_.offer(std::move(job))) {
        encodeOnQueue(std::move(*now));
    }
}

void ScreenStreamer::encodeOnQueue(EncodeJob job) {
    encodeQueue_.post([weak = weak_from_this(), job = std::move(job), generation = generation_]() mutable {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        assert(self->encodeQueue_.isCurrent() && "the encoder is called on the encoding queue only");
        const auto stamp = hostClockMicros(job.at);
        bool sharpenable = false;
        if (job.kind == EncodeJob::Kind::refinement) {
            sharpenable = self->encoder_->encodeRefinement(*job.picture, stamp);
        } else {
            self->encoder_->encode(*job.picture, stamp);
        }
        // The frame buffer goes back to the capturer now (unless it is the last frame).
        job.picture.reset();
        self->queue_.post([weak, kind = job.kind, at = job.at, sharpenable, generation] {
            if (const auto self = weak.lock()) {
                self->encoded(kind, at, sharpenable, generation);
            }
        });
    });
}

void ScreenStreamer::encoded(EncodeJob::Kind kind, CapturePolicy::Clock::time_point at, bool sharpenable,
                             std::uint64_t generation) {
    checkQueue();
    if (kind == EncodeJob::Kind::refinement && generation == generation_) {
        refining_ = false;
        // A picture encoded meanwhile restarted the refinement; the policy tells by the times.
        policy_.refined(at, sharpenable);
    }
    if (auto next = handoff_.finished()) {
        encodeOnQueue(std::move(*next));
    }
}

void ScreenStreamer::schedule(std::uint64_t generation) {
    const auto now = CapturePolicy::Clock::now();
    served_ = CapturePolicy::nextTick(served_, now, interval_);
    queue_.postAfter(served_ - now, [weak = weak_from_this(), generation] {
        if (auto self = weak.lock()) {
            self->tick(generation);
        }
    });
}

}  // namespace vantrel
