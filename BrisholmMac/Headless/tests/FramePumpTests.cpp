#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

#include "Headless/FramePump.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::waitUntil;

TEST(FramePump, TicksCountFromOneOnItsOwnQueue) {
    FramePump pump("test.pump", 1ms);
    std::mutex lock;
    std::vector<std::int64_t> ticks;
    std::atomic<bool> offQueue{false};
    pump.onTick = [&](std::int64_t tick) {
        if (!pump.queue().isCurrent()) {
            offQueue = true;
        }
        const std::lock_guard guard(lock);
        ticks.push_back(tick);
    };
    pump.start();
    ASSERT_TRUE(waitUntil([&] {
        const std::lock_guard guard(lock);
        return ticks.size() >= 5;
    }));
    pump.stop();
    const std::lock_guard guard(lock);
    for (std::size_t i = 0; i < ticks.size(); ++i) {
        EXPECT_EQ(ticks[i], static_cast<std::int64_t>(i) + 1);
    }
    EXPECT_FALSE(offQueue);
}

TEST(FramePump, NoTickAfterStopReturns) {
    FramePump pump("test.pump", 1ms);
    std::atomic<int> count{0};
    pump.onTick = [&](std::int64_t) { ++count; };
    pump.start();
    ASSERT_TRUE(waitUntil([&] { return count >= 3; }));
    pump.stop();
    const int stoppedAt = count;
    pump.queue().sync([] {});
    std::this_thread::sleep_for(20ms);
    pump.queue().sync([] {});
    EXPECT_EQ(count, stoppedAt);
    pump.stop();  // idempotent
}

TEST(FramePump, ATickMayStopThePump) {
    FramePump pump("test.pump", 1ms);
    std::atomic<int> count{0};
    pump.onTick = [&](std::int64_t tick) {
        ++count;
        if (tick == 2) {
            pump.stop();
        }
    };
    pump.start();
    ASSERT_TRUE(waitUntil([&] { return count >= 2; }));
    pump.queue().sync([] {});
    std::this_thread::sleep_for(20ms);
    pump.queue().sync([] {});
    EXPECT_EQ(count, 2);
}

struct DeadlineCase {
    int servedMs;
    int nowMs;
    int nextMs;
};

class NextDeadline : public ::testing::TestWithParam<DeadlineCase> {};

// Deadlines stay on the grid of the first one (multiples of 33 ms here): a late wake-up does not
// shift the schedule, and missed ticks are skipped instead of replayed in a burst.
TEST_P(NextDeadline, StaysOnTheSchedule) {
    const std::chrono::steady_clock::time_point origin{};
    const auto [served, now, next] = GetParam();
    EXPECT_EQ(FramePump::nextDeadline(origin + std::chrono::milliseconds(served),
                                      origin + std::chrono::milliseconds(now), 33ms),
              origin + std::chrono::milliseconds(next));
}

INSTANTIATE_TEST_SUITE_P(Cases, NextDeadline,
                         ::testing::Values(DeadlineCase{0, 0, 33},    // on time
                                           DeadlineCase{0, 20, 33},   // woke late, still before the next
                                           DeadlineCase{33, 60, 66},  // late wake-ups do not drift
                                           DeadlineCase{0, 33, 33},   // exactly due: runs at once
                                           DeadlineCase{0, 100, 99},  // two missed: one at once (99)
                                           DeadlineCase{0, 131, 99},  // and then back on the grid
                                           DeadlineCase{99, 131, 132}));

TEST(HostClock, IsMonotonicMicroseconds) {
    const auto first = hostClockMicros();
    std::this_thread::sleep_for(2ms);
    const auto second = hostClockMicros();
    EXPECT_GE(second - first, 2000u);
    const auto steady =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch());
    EXPECT_LE(second, static_cast<std::uint64_t>(steady.count()));
}

}  // namespace
}  // namespace vantrel
