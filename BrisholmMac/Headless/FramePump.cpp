#include "Headless/FramePump.hpp"

#include <asio/steady_timer.hpp>

#include "CapturePolicy.hpp"
#include "ScreenStreamer.hpp"

namespace vantrel {

std::uint64_t hostClockMicros() {
    // One clock for both hosts' time stamps: the screen streamer's.
    return hostClockMicros(std::chrono::steady_clock::now());
}

struct FramePump::Timer {
    explicit Timer(asio::io_context& context) : timer(context) {}
    asio::steady_timer timer;
};

FramePump::FramePump(std::string queueLabel, std::chrono::nanoseconds interval)
    : queue_(std::move(queueLabel)), interval_(interval) {}

FramePump::~FramePump() {
    stop();
}

void FramePump::start() {
    queue_.post([this] {
        if (timer_) {
            return;
        }
        timer_ = std::make_unique<Timer>(queue_.context());
        deadline_ = std::chrono::steady_clock::now();
        schedule();
    });
}

void FramePump::stop() {
    // The timer is an I/O object of the queue's loop, so it is cancelled and destroyed there.
    // A completion still queued then finds the operation aborted and touches nothing; and it
    // cannot outlive the pump, since the queue (a member) drops unrun work when it goes.
    queue_.sync([this] { timer_.reset(); });
}

std::chrono::steady_clock::time_point FramePump::nextDeadline(std::chrono::steady_clock::time_point served,
                                                              std::chrono::steady_clock::time_point now,
                                                              std::chrono::nanoseconds interval) {
    // The screen streamer paces its grabs by the same schedule.
    return CapturePolicy::nextTick(served, now, interval);
}

void FramePump::schedule() {
    timer_->timer.expires_at(deadline_);
    timer_->timer.async_wait([this](const std::error_code& error) {
        if (error) {
            return;
        }
        fire();
    });
}

void FramePump::fire() {
    if (!timer_) {
        return;
    }
    ++tick_;
    if (onTick) {
        onTick(tick_);
    }
    if (!timer_) {
        return;  // onTick stopped the pump
    }
    deadline_ = nextDeadline(deadline_, std::chrono::steady_clock::now(), interval_);
    schedule();
}

}  // namespace vantrel
