#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

#include "vantrel/SerialQueue.hpp"

namespace vantrel {

// The headless host's clock for frame time stamps: the monotonic clock in whole microseconds.
// It is the clock a probe on the same machine reads, so latency can be measured end to end.
[[nodiscard]] std::uint64_t hostClockMicros();

// Calls onTick on its own serial queue at a fixed rate: the first tick at once, then one per
// interval on a schedule of absolute deadlines, so late wake-ups do not accumulate into drift.
// When a tick runs so long that deadlines have already passed, those ticks are skipped (as a
// repeating timer coalesces them) and the schedule keeps its phase. The tick number counts the
// calls actually made, from 1.
//
// Lives on its queue (label given at construction); start and stop may be called from any thread.
// Destroying the pump stops it and waits for a running tick to finish.
class FramePump {
public:
    FramePump(std::string queueLabel, std::chrono::nanoseconds interval);
    ~FramePump();

    FramePump(const FramePump&) = delete;
    FramePump& operator=(const FramePump&) = delete;

    // Set once, before start. Runs on the pump's queue.
    std::function<void(std::int64_t tick)> onTick;

    void start();
    // Cancels the timer; no tick starts after stop returns. Idempotent.
    void stop();

    [[nodiscard]] SerialQueue& queue() { return queue_; }

    // The deadline after the one just served: one interval on, or, when that has passed already,
    // the latest deadline of the same schedule that has passed (it runs at once, the ones before
    // it are skipped).
    [[nodiscard]] static std::chrono::steady_clock::time_point nextDeadline(
        std::chrono::steady_clock::time_point served, std::chrono::steady_clock::time_point now,
        std::chrono::nanoseconds interval);

private:
    struct Timer;

    void schedule();
    void fire();

    SerialQueue queue_;
    std::chrono::nanoseconds interval_;
    std::unique_ptr<Timer> timer_;  // only touched on queue_
    std::chrono::steady_clock::time_point deadline_;
    std::int64_t tick_ = 0;
};

}  // namespace vantrel
