#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <vector>

#include "vantrel/SerialQueue.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;

TEST(SerialQueueTest, RunsWorkInOrderOnItsOwnNamedThread) {
    SerialQueue queue("vantrel.test");
    std::vector<int> order;
    std::atomic<bool> allOnQueue = true;
    for (int index = 0; index < 100; ++index) {
        queue.post([&, index] {
            allOnQueue = allOnQueue && queue.isCurrent();
            order.push_back(index);
        });
    }
    char name[16] = {};
    queue.sync([&] { pthread_getname_np(pthread_self(), name, sizeof name); });
    ASSERT_EQ(order.size(), 100U);
    for (int index = 0; index < 100; ++index) {
        EXPECT_EQ(order[static_cast<std::size_t>(index)], index);
    }
    EXPECT_TRUE(allOnQueue);
    EXPECT_FALSE(queue.isCurrent());
    EXPECT_STREQ(name, "vantrel.test");
}

TEST(SerialQueueTest, DelayedWorkRunsAfterItsDelayAndInDeadlineOrder) {
    SerialQueue queue("vantrel.test");
    std::mutex mutex;
    std::vector<int> order;
    const auto start = std::chrono::steady_clock::now();
    std::chrono::steady_clock::duration firstRanAfter{};
    queue.postAfter(60ms, [&] {
        std::lock_guard lock(mutex);
        order.push_back(2);
    });
    queue.postAfter(20ms, [&] {
        std::lock_guard lock(mutex);
        firstRanAfter = std::chrono::steady_clock::now() - start;
        order.push_back(1);
    });
    ASSERT_TRUE(testing::waitUntil([&] {
        std::lock_guard lock(mutex);
        return order.size() == 2;
    }));
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_GE(firstRanAfter, 20ms);
}

TEST(SerialQueueTest, SyncOnTheQueueItselfRunsInlineInsteadOfDeadlocking) {
    SerialQueue queue("vantrel.test");
    bool ranInside = false;
    queue.sync([&] { queue.sync([&] { ranInside = true; }); });
    EXPECT_TRUE(ranInside);
}

TEST(SerialQueueTest, DestructionDropsPendingWorkWithoutRunningIt) {
    auto witness = std::make_shared<int>(0);
    std::weak_ptr<int> watch = witness;
    std::atomic<int> ran = 0;
    {
        SerialQueue queue("vantrel.test");
        queue.postAfter(10s, [&ran, witness] { ++ran; });
        witness.reset();
        EXPECT_FALSE(watch.expired());  // the pending closure still holds it
    }
    EXPECT_EQ(ran, 0);
    EXPECT_TRUE(watch.expired());  // released, not leaked
}

// One failing work item (an allocation failure, a library that throws) must not take the
// process down, nor the queue and the state machine living on it.
TEST(SerialQueueTest, WorkThatThrowsIsAbandonedAndTheQueueGoesOn) {
    SerialQueue queue("vantrel.test");
    int ran = 0;
    queue.post([] { throw std::bad_alloc(); });
    queue.post([] { throw 7; });
    queue.postAfter(1ms, [] { throw std::runtime_error("late"); });
    queue.postAfter(2ms, [&ran] { ++ran; });
    queue.post([&ran] { ++ran; });
    EXPECT_TRUE(testing::waitUntil([&] {
        int seen = 0;
        queue.sync([&] { seen = ran; });
        return seen == 2;
    }));
}

TEST(SerialQueueTest, TheLastOwnerMayBeAClosureRunningOnTheQueue) {
    auto queue = std::make_shared<SerialQueue>("vantrel.test");
    std::atomic<bool> done = false;
    auto* raw = queue.get();
    raw->post([owner = std::move(queue), &done]() mutable {
        owner.reset();  // destroys the queue from its own thread
        done = true;
    });
    EXPECT_TRUE(testing::waitUntil([&] { return done.load(); }));
}

}  // namespace
}  // namespace vantrel
