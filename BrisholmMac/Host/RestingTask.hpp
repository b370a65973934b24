#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

#include "Platform/DescriptorNews.hpp"

namespace vantrel {

class MainQueue;

// Work repeated on the main queue at a steady interval while it finds something changed, and
// resting while it finds nothing: until the news' descriptor turns readable, or at the latest after
// the news' own interval, and even then no sooner than an interval after the last run. So a source
// that says when it may have changed costs nothing while it stands still, and is followed at the
// interval while it changes. Without news (the source cannot tell) the work repeats at the
// interval throughout. The first run comes one interval after start(); stop() (or destruction)
// ends it at once.
//
// Lives on the main queue: start, stop and destruction happen there.
class RestingTask {
public:
    // work returns whether it found something changed. news is asked after each run that found
    // nothing; its descriptor must stay open until the next run (which may close it).
    RestingTask(std::shared_ptr<MainQueue> main, std::chrono::milliseconds interval, std::function<bool()> work,
                std::function<std::optional<DescriptorNews>()> news);
    ~RestingTask();

    RestingTask(const RestingTask&) = delete;
    RestingTask& operator=(const RestingTask&) = delete;

    // Starts the repetition anew (a running one restarts its interval).
    void start();
    void stop();
    [[nodiscard]] bool running() const;

private:
    struct State;

    std::shared_ptr<State> state_;
};

}  // namespace vantrel
