#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "vantrel/SerialQueue.hpp"

namespace vantrel::testing {

// A serial queue that the test runs itself: nothing happens until the test calls runReady() or
// runUntil(), and then the work runs on the test's thread. Objects that live on a queue (a
// server, framed connections, in-memory transports) are then driven one step at a time,
// deterministically, with no polling or sleeps. Real timers still count real time: work posted
// with a delay runs once it has expired and the test runs the queue.
class ManualQueue final : public SerialQueue {
public:
    explicit ManualQueue(std::string label = "test.manual") : SerialQueue(std::move(label), WithoutThread{}) {}

    using SerialQueue::runReady;

    // Runs work as it arrives (from this queue or from other threads posting to it) until
    // condition holds; false when it still does not after timeout. Blocks in the event loop, so
    // work posted by another thread wakes it at once. A condition may run the queue itself (to
    // read a status, say); the wait then looks again at least every 20 ms.
    bool runUntil(const std::function<bool()>& condition,
                  std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        runReady();
        while (!condition()) {
            const auto left = deadline - std::chrono::steady_clock::now();
            if (left <= std::chrono::nanoseconds::zero()) {
                return condition();
            }
            runOneFor(std::min<std::chrono::nanoseconds>(left, std::chrono::milliseconds(20)));
        }
        return true;
    }
};

}  // namespace vantrel::testing
