#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>

namespace asio {
class io_context;
}

namespace vantrel {

// A serial work queue: one asio::io_context run by one named thread, so everything posted to
// it runs one item at a time, in order, on that thread. The host's state machines ("vantrel.server",
// "vantrel.capture") each live on one queue and need no locks of their own.
//
// Destroying the queue stops its thread: work that has not started yet is destroyed without
// running (its captures are released), so a closure never runs after the objects it points at
// may be gone. Destruction from the queue's own thread is allowed (the last owner can be a
// closure running on it); the thread then finishes on its own once that closure returns.
//
// A work item that throws is abandoned with a line on standard error, and the queue goes on.
class SerialQueue {
public:
    explicit SerialQueue(std::string label);
    ~SerialQueue();

    SerialQueue(const SerialQueue&) = delete;
    SerialQueue& operator=(const SerialQueue&) = delete;

    // Runs work on the queue's thread after everything posted before it. Callable from any thread.
    void post(std::function<void()> work);

    // Runs work on the queue's thread once delay has passed (steady clock).
    void postAfter(std::chrono::nanoseconds delay, std::function<void()> work);

    // Runs work on the queue and waits for it. Called on the queue itself it runs at once, so
    // it cannot deadlock; meant for the rare place that must wait (tear-down, tests).
    void sync(const std::function<void()>& work);

    // True when called from the queue's own thread; backs the debug checks of queue-confined
    // classes.
    [[nodiscard]] bool isCurrent() const;

    [[nodiscard]] const std::string& label() const;

    // The event loop, for I/O objects (sockets, acceptors, timers) whose completions must
    // arrive on this queue.
    [[nodiscard]] asio::io_context& context();

protected:
    // A queue with no thread of its own: whoever made it runs the ready work by calling
    // runReady(), on its own thread, which then counts as the queue's. For deterministic tests
    // (testing::ManualQueue); the host never makes one.
    struct WithoutThread {};
    SerialQueue(std::string label, WithoutThread);

    // Runs every handler that is ready, including those the handlers post in turn, and returns
    // how many ran. Timers that have not expired yet stay pending.
    std::size_t runReady();

    // Waits up to timeout for one handler to become ready and runs it; returns how many ran (0 or 1).
    std::size_t runOneFor(std::chrono::nanoseconds timeout);

private:
    struct State;
    static void runGuarded(State& state);

    std::shared_ptr<State> state_;
    std::thread thread_;
    // The thread that runs the work: the queue's own, or the maker of a queue without one.
    std::thread::id owner_;
};

}  // namespace vantrel
