#include "Host/RestingTask.hpp"

#include <cassert>
#include <cstdint>

#include "Host/MainQueue.hpp"

namespace vantrel {

using Clock = std::chrono::steady_clock;

struct RestingTask::State : std::enable_shared_from_this<State> {
    State(std::shared_ptr<MainQueue> mainQueue, std::chrono::milliseconds every, std::function<bool()> runWork,
          std::function<std::optional<DescriptorNews>()> askNews)
        : main(std::move(mainQueue)), interval(every), work(std::move(runWork)), news(std::move(askNews)) {}

    std::shared_ptr<MainQueue> main;
    std::chrono::milliseconds interval;
    std::function<bool()> work;
    std::function<std::optional<DescriptorNews>()> news;
    // Bumped by every start, stop, run and rest: a run or wake posted for an earlier one does
    // nothing, so the descriptor and the rest's timer wake the task once between them.
    std::uint64_t generation = 0;
    bool running = false;
    Clock::time_point lastRun;
    std::unique_ptr<DescriptorWait> wait;

    void runAfter(Clock::duration delay) {
        main->postAfter(std::chrono::ceil<std::chrono::milliseconds>(delay), waker([](State& self) { self.run(); }));
    }

    void run() {
        wait.reset();
        const auto generationOfRun = ++generation;
        const bool changed = work();
        if (generation != generationOfRun) {
            return;  // the work stopped or restarted the task
        }
        lastRun = Clock::now();
        const auto restOn = changed ? std::nullopt : news();
        if (restOn) {
            rest(*restOn);
        } else {
            runAfter(interval);
        }
    }

    void rest(const DescriptorNews& restOn) {
        wait = main->whenReadable(restOn.descriptor, waker([](State& self) { self.wake(); }));
        if (!wait) {
            runAfter(interval);
            return;
        }
        main->postAfter(restOn.atLeastEvery, waker([](State& self) { self.wake(); }));
    }

    // Paced as ever: news right after a run waits out the interval.
    void wake() {
        wait.reset();
        ++generation;
        const auto since = Clock::now() - lastRun;
        if (since >= interval) {
            run();
        } else {
            runAfter(interval - since);
        }
    }

    // A step for the main queue that runs only while this generation of the task lasts; it holds
    // the task weakly, so a destroyed task leaves nothing to run.
    std::function<void()> waker(void (*step)(State&)) {
        return [weak = weak_from_this(), generationThen = generation, step] {
            const auto self = weak.lock();
            if (self && self->running && self->generation == generationThen) {
                step(*self);
            }
        };
    }
};

RestingTask::RestingTask(std::shared_ptr<MainQueue> main, std::chrono::milliseconds interval,
                         std::function<bool()> work, std::function<std::optional<DescriptorNews>()> news)
    : state_(std::make_shared<State>(std::move(main), interval, std::move(work), std::move(news))) {}

RestingTask::~RestingTask() {
    stop();
}

void RestingTask::start() {
    assert(state_->main->isCurrent() && "a resting task is started on the main queue");
    stop();
    state_->running = true;
    state_->lastRun = Clock::now();
    state_->runAfter(state_->interval);
}

void RestingTask::stop() {
    ++state_->generation;
    state_->running = false;
    state_->wait.reset();
}

bool RestingTask::running() const {
    return state_->running;
}

}  // namespace vantrel
