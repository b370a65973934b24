#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace vantrel {

class MainQueue;

// Work repeated on the main queue at a fixed interval while started: the desktop host's periodic
// checks, without an event loop of any particular toolkit. The first run comes one interval after
// start(); each next one an interval after the last ended, so a slow run delays, never bunches.
// stop() (or destruction) ends it at once: a run already posted finds it stopped and does nothing.
//
// Lives on the main queue: start, stop and destruction happen there.
class RepeatingTask {
public:
    RepeatingTask(std::shared_ptr<MainQueue> main, std::chrono::milliseconds interval, std::function<void()> work);
    ~RepeatingTask();

    RepeatingTask(const RepeatingTask&) = delete;
    RepeatingTask& operator=(const RepeatingTask&) = delete;

    // Starts the repetition anew (a running one restarts its interval).
    void start();
    void stop();
    [[nodiscard]] bool running() const;

private:
    struct State;
    static void schedule(const std::shared_ptr<State>& state);

    std::shared_ptr<State> state_;
};

}  // namespace vantrel
