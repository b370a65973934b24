#pragma once

#include <chrono>
#include <functional>
#include <memory>

namespace vantrel {

class SerialQueue;

// A wait for a descriptor (MainQueue::whenReadable); destroying it cancels the wait.
class DescriptorWait {
public:
    virtual ~DescriptorWait() = default;
};

// The host's main thread as the layers below the user interface see it: a place to post work
// that runs later, in order, one item at a time. The hosts hand in the Qt event loop; tests hand
// in a serial queue. Code below the application layer never includes Qt.
class MainQueue {
public:
    virtual ~MainQueue() = default;

    // Runs work on the main thread after everything posted before it. Callable from any thread.
    virtual void post(std::function<void()> work) = 0;

    // Runs work on the main thread once delay has passed. Callable from any thread.
    virtual void postAfter(std::chrono::milliseconds delay, std::function<void()> work) = 0;

    // Runs work on the main thread once descriptor has something to read or has hung up, unless
    // the wait it returns is destroyed first; once at most. Main thread only. The descriptor stays
    // its owner's: it is never closed here, and it must stay open while the wait lives. None when
    // the descriptor cannot be watched.
    [[nodiscard]] virtual std::unique_ptr<DescriptorWait> whenReadable(int descriptor, std::function<void()> work) = 0;

    // True on the main thread itself; backs the debug checks of the classes that live there.
    [[nodiscard]] virtual bool isCurrent() const = 0;

    // A serial queue standing in for the main thread (tests, tools).
    [[nodiscard]] static std::shared_ptr<MainQueue> on(std::shared_ptr<SerialQueue> queue);
};

}  // namespace vantrel
