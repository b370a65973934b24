#include "Host/RestingTask.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <utility>
#include <vector>

#include "Host/MainQueue.hpp"
#include "vantrel/testing/ManualQueue.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// What the task watches: a pipe whose read end is the news, written to when something changes.
class WatchedSource {
public:
    WatchedSource() { EXPECT_EQ(pipe2(ends_.data(), O_NONBLOCK | O_CLOEXEC), 0); }
    ~WatchedSource() {
        close(ends_[0]);
        close(ends_[1]);
    }
    WatchedSource(const WatchedSource&) = delete;
    WatchedSource& operator=(const WatchedSource&) = delete;

    void change() {
        changed_ = true;
        EXPECT_EQ(write(ends_[1], "!", 1), 1);
    }

    // The task's work: reads the news off and says whether something changed.
    bool look() {
        looks.push_back(Clock::now());
        std::array<char, 16> news{};
        while (read(ends_[0], news.data(), news.size()) > 0) {
        }
        return std::exchange(changed_, false) || keepsChanging;
    }

    [[nodiscard]] std::optional<DescriptorNews> news() const {
        if (!tellsNews) {
            return std::nullopt;
        }
        return DescriptorNews{ends_[0], restAtMost};
    }

    [[nodiscard]] int newsDescriptor() const { return ends_[0]; }

    std::vector<Clock::time_point> looks;
    bool keepsChanging = false;
    bool tellsNews = true;
    std::chrono::milliseconds restAtMost = 10s;

private:
    std::array<int, 2> ends_{-1, -1};
    bool changed_ = false;
};

class RestingTaskTest : public ::testing::Test {
protected:
    std::unique_ptr<RestingTask> makeTask(std::chrono::milliseconds interval) {
        return std::make_unique<RestingTask>(
            main, interval, [this] { return source.look(); }, [this] { return source.news(); });
    }

    void runFor(std::chrono::milliseconds duration) {
        queue->runUntil([] { return false; }, duration);
    }

    std::size_t looks() const { return source.looks.size(); }

    std::shared_ptr<testing::ManualQueue> queue = std::make_shared<testing::ManualQueue>();
    std::shared_ptr<MainQueue> main = MainQueue::on(queue);
    WatchedSource source;
};

// The pointer report's whole point: a still source costs one look, not twenty a second, and news
// brings the next look at once.
TEST_F(RestingTaskTest, AStillSourceIsLookedAtOnceAndNewsWakesTheTask) {
    const auto task = makeTask(20ms);
    task->start();
    runFor(400ms);
    EXPECT_EQ(looks(), 1U) << "the task rests while nothing changes";

    source.change();
    EXPECT_TRUE(queue->runUntil([&] { return looks() == 2; }, 2s)) << "news wakes it";
    runFor(200ms);
    EXPECT_EQ(looks(), 3U) << "one more look finds the change over, and the task rests again";
}

TEST_F(RestingTaskTest, ItKeepsThePaceWhileTheSourceChangesAndWithoutNews) {
    const auto task = makeTask(20ms);
    source.keepsChanging = true;
    task->start();
    runFor(300ms);
    EXPECT_GE(looks(), 6U) << "a changing source is looked at every interval";
    EXPECT_LE(looks(), 16U) << "and no more often";

    source.keepsChanging = false;
    source.tellsNews = false;
    const auto before = looks();
    runFor(300ms);
    EXPECT_GE(looks() - before, 6U) << "a source that cannot tell is looked at every interval";
}

TEST_F(RestingTaskTest, ARestEndsAfterTheNewsIntervalAndNewsWaitsOutThePace) {
    source.restAtMost = 100ms;
    const auto task = makeTask(50ms);
    task->start();
    runFor(560ms);
    EXPECT_GE(looks(), 3U) << "a warp comes without news: the rest is bounded";
    EXPECT_LE(looks(), 6U);

    // News right after a look waits until an interval has passed since it.
    ASSERT_TRUE(queue->runUntil([&, count = looks()] { return looks() > count; }, 2s));
    source.change();
    ASSERT_TRUE(queue->runUntil([&, count = looks()] { return looks() > count; }, 2s));
    const auto& times = source.looks;
    EXPECT_GE(times[times.size() - 1] - times[times.size() - 2], 45ms);
}

TEST_F(RestingTaskTest, StopEndsARestAndTheDescriptorStaysItsOwners) {
    auto task = makeTask(20ms);
    task->start();
    ASSERT_TRUE(queue->runUntil([&] { return looks() == 1; }, 2s));
    task->stop();
    source.change();
    runFor(200ms);
    EXPECT_EQ(looks(), 1U) << "a stopped task ignores news";

    task->start();
    ASSERT_TRUE(queue->runUntil([&] { return looks() == 2; }, 2s)) << "and starts again";
    task.reset();
    source.change();
    runFor(100ms);
    EXPECT_EQ(looks(), 2U) << "a destroyed one too";
    EXPECT_NE(fcntl(source.newsDescriptor(), F_GETFD), -1) << "the descriptor was left open";
}

}  // namespace
}  // namespace vantrel
