#include "vantrel/SerialQueue.hpp"

#include <pthread.h>
#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>
#include <asio/post.hpp>
#include <asio/steady_timer.hpp>
#include <cstdio>
#include <exception>
#include <future>

namespace vantrel {

namespace {

// Standard error is the diagnostic log's destination too; this library has no logger of its own.
void reportEscaped(const std::string& label, const char* what) {
    std::fprintf(stderr, "%s: a queued work item failed and was abandoned: %s\n", label.c_str(), what);
}

}  // namespace

struct SerialQueue::State {
    explicit State(std::string queueLabel) : label(std::move(queueLabel)) {}

    std::string label;
    asio::io_context context{1};
    asio::executor_work_guard<asio::io_context::executor_type> keepRunning{asio::make_work_guard(context)};
};

SerialQueue::SerialQueue(std::string label) : state_(std::make_shared<State>(std::move(label))) {
    // The thread holds the state itself, so that a queue destroyed from its own thread can
    // detach and let the event loop return before the state goes away.
    thread_ = std::thread([state = state_] {
        // Linux limits thread names to 15 characters; every queue label fits.
        pthread_setname_np(pthread_self(), state->label.substr(0, 15).c_str());
        runGuarded(*state);
    });
    owner_ = thread_.get_id();
}

SerialQueue::SerialQueue(std::string label, WithoutThread)
    : state_(std::make_shared<State>(std::move(label))), owner_(std::this_thread::get_id()) {}

// An exception escaping one work item (an allocation failure, a library that throws) abandons that
// item only: the queue goes on with the next one instead of taking the process down. Asio lets
// run() be called again after a handler threw.
void SerialQueue::runGuarded(State& state) {
    for (;;) {
        try {
            state.context.run();
            return;
        } catch (const std::exception& error) {
            reportEscaped(state.label, error.what());
        } catch (...) {
            reportEscaped(state.label, "an exception of unknown type");
        }
    }
}

std::size_t SerialQueue::runReady() {
    state_->context.restart();
    return state_->context.poll();
}

std::size_t SerialQueue::runOneFor(std::chrono::nanoseconds timeout) {
    state_->context.restart();
    return state_->context.run_one_for(timeout);
}

SerialQueue::~SerialQueue() {
    state_->keepRunning.reset();
    state_->context.stop();
    if (!thread_.joinable()) {
        return;
    }
    if (isCurrent()) {
        thread_.detach();
    } else {
        thread_.join();
    }
}

// Each call holds the state for its whole length: the work it posts may destroy this queue on
// the queue's thread (the last owner can be a closure) while Asio is still waking that thread
// here, and the event loop must outlive that.
void SerialQueue::post(std::function<void()> work) {
    const auto state = state_;
    asio::post(state->context, std::move(work));
}

void SerialQueue::postAfter(std::chrono::nanoseconds delay, std::function<void()> work) {
    const auto state = state_;
    auto timer = std::make_shared<asio::steady_timer>(state->context, delay);
    timer->async_wait([timer, work = std::move(work)](const std::error_code& error) {
        if (!error) {
            work();
        }
    });
}

void SerialQueue::sync(const std::function<void()>& work) {
    if (isCurrent()) {
        work();
        return;
    }
    const auto state = state_;
    std::promise<void> done;
    auto finished = done.get_future();
    // The promise is moved into the closure: if the queue is stopped before the closure runs,
    // destroying it breaks the promise, and the wait below returns instead of hanging.
    asio::post(state->context, [&work, done = std::move(done)]() mutable {
        work();
        done.set_value();
    });
    finished.wait();
}

bool SerialQueue::isCurrent() const {
    return std::this_thread::get_id() == owner_;
}

const std::string& SerialQueue::label() const {
    return state_->label;
}

asio::io_context& SerialQueue::context() {
    return state_->context;
}

}  // namespace vantrel
