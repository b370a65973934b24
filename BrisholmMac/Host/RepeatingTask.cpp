#include "Host/RepeatingTask.hpp"

#include <cassert>
#include <cstdint>

#include "Host/MainQueue.hpp"

namespace vantrel {

struct RepeatingTask::State {
    std::shared_ptr<MainQueue> main;
    std::chrono::milliseconds interval;
    std::function<void()> work;
    // Bumped by every start and stop: a run posted for an earlier generation does nothing.
    std::uint64_t generation = 0;
    bool running = false;
};

RepeatingTask::RepeatingTask(std::shared_ptr<MainQueue> main, std::chrono::milliseconds interval,
                             std::function<void()> work)
    : state_(std::make_shared<State>(State{std::move(main), interval, std::move(work)})) {}

RepeatingTask::~RepeatingTask() {
    stop();
}

void RepeatingTask::start() {
    assert(state_->main->isCurrent() && "a repeating task is started on the main queue");
    ++state_->generation;
    state_->running = true;
    schedule(state_);
}

void RepeatingTask::stop() {
    ++state_->generation;
    state_->running = false;
}

bool RepeatingTask::running() const {
    return state_->running;
}

void RepeatingTask::schedule(const std::shared_ptr<State>& state) {
    // The posted run holds the state weakly: a task destroyed meanwhile leaves nothing to run.
    state->main->postAfter(state->interval, [weakState = std::weak_ptr<State>(state), generation = state->generation] {
        const auto state = weakState.lock();
        if (!state || state->generation != generation) {
            return;
        }
        state->work();
        // The work may have stopped or restarted the task.
        if (state->generation == generation) {
            schedule(state);
        }
    });
}

}  // namespace vantrel
