#pragma once

#include <chrono>
#include <functional>
#include <thread>

#include "vantrel/SerialQueue.hpp"

namespace vantrel::testing {

// Polls condition until it holds or timeout passes; returns its last value. For tests that
// watch work happen on other threads without racing it.
inline bool waitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(5)) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// Lets work that posts further work run to the end: each round waits behind everything queued
// so far. Enough rounds for the in-memory transport's chains of posted completions.
inline void settle(SerialQueue& queue, int rounds = 16) {
    for (int round = 0; round < rounds; ++round) {
        queue.sync([] {});
    }
}

}  // namespace vantrel::testing
