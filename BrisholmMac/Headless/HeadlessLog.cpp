#include "Headless/HeadlessLog.hpp"

#include <pthread.h>
#include <unistd.h>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "Log/DiagnosticLog.hpp"

namespace vantrel {

namespace {

// The buffer between the callers and the writer thread; shared by both, so neither outlives it.
struct LineBuffer {
    LineBuffer(int descriptor, std::size_t limit) : fd(descriptor), maxBytes(limit) {}

    const int fd;
    const std::size_t maxBytes;
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<std::string> lines;  // each with its line feed
    std::size_t bytes = 0;
    std::size_t dropped = 0;
    bool writing = false;
    bool broken = false;    // the descriptor failed: nothing more is written
    bool finished = false;  // no sink is left: the writer ends once the buffer is empty

    void push(std::string_view line) {
        const std::lock_guard lock(mutex);
        if (broken) {
            return;
        }
        if (bytes + line.size() + 1 > maxBytes) {
            ++dropped;
            return;
        }
        std::string text;
        text.reserve(line.size() + 1);
        text.append(line);
        text.push_back('\n');
        bytes += text.size();
        lines.push_back(std::move(text));
        changed.notify_all();
    }

    [[nodiscard]] bool drained() const { return broken || (lines.empty() && !writing); }
};

// 0, or the errno of the write that failed.
int writeWhole(int fd, std::string_view text) {
    const char* next = text.data();
    std::size_t left = text.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, next, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return errno;
        }
        next += written;
        left -= static_cast<std::size_t>(written);
    }
    return 0;
}

void writeLines(const std::shared_ptr<LineBuffer>& buffer) {
    // A reader that went away raises SIGPIPE at the write; blocked here, the write reports EPIPE
    // instead and the thread stops writing, whatever the process does with the signal.
    sigset_t pipeSignal;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
    pthread_setname_np(pthread_self(), "vantrel.log");

    std::unique_lock lock(buffer->mutex);
    for (;;) {
        buffer->changed.wait(lock, [&] { return !buffer->lines.empty() || buffer->finished; });
        if (buffer->lines.empty()) {
            return;  // finished
        }
        auto text = std::move(buffer->lines.front());
        buffer->lines.pop_front();
        buffer->bytes -= text.size();
        buffer->writing = true;
        const auto dropped = std::exchange(buffer->dropped, 0);
        lock.unlock();
        if (dropped > 0) {
            diagnosticLog().warn("{} log lines were dropped: standard output was not read in time", dropped);
        }
        const int error = writeWhole(buffer->fd, text);
        if (error != 0) {
            diagnosticLog().info("the event log's output is gone ({}); no more lines are written",
                                 std::strerror(error));
        }
        lock.lock();
        buffer->writing = false;
        if (error != 0) {
            buffer->broken = true;
            buffer->lines.clear();
            buffer->bytes = 0;
        }
        buffer->changed.notify_all();
        if (buffer->broken) {
            return;
        }
    }
}

// Held by every copy of a sink; the last one lets the writer finish.
struct SinkHandle {
    SinkHandle(std::shared_ptr<LineBuffer> lines, std::chrono::milliseconds timeout)
        : buffer(std::move(lines)), drainTimeout(timeout) {}
    SinkHandle(const SinkHandle&) = delete;
    SinkHandle& operator=(const SinkHandle&) = delete;

    std::shared_ptr<LineBuffer> buffer;
    std::chrono::milliseconds drainTimeout;

    ~SinkHandle() {
        std::unique_lock lock(buffer->mutex);
        buffer->changed.wait_for(lock, drainTimeout, [&] { return buffer->drained(); });
        buffer->finished = true;
        buffer->changed.notify_all();
    }
};

}  // namespace

bool writeLine(int fd, std::string_view line) {
    std::string text;
    text.reserve(line.size() + 1);
    text.append(line);
    text.push_back('\n');
    return writeWhole(fd, text) == 0;
}

LogSink backgroundLog(int fd, std::size_t maxBufferedBytes, std::chrono::milliseconds drainTimeout) {
    auto buffer = std::make_shared<LineBuffer>(fd, maxBufferedBytes);
    // Detached: a writer blocked on a reader that never drains must not hold up the shutdown.
    std::thread(writeLines, buffer).detach();
    auto handle = std::make_shared<SinkHandle>(std::move(buffer), drainTimeout);
    return [handle](std::string_view line) { handle->buffer->push(line); };
}

LogSink standardOutputLog() {
    return backgroundLog(STDOUT_FILENO);
}

}  // namespace vantrel
