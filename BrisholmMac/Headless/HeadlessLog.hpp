#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string_view>

namespace vantrel {

// Where the headless host's log lines go: one call per event, the line without its line feed.
// Called from several queues at once, so a sink must be thread-safe.
using LogSink = std::function<void(std::string_view line)>;

// The production sink: backgroundLog() on standard output.
[[nodiscard]] LogSink standardOutputLog();

// A sink that never blocks its caller: lines wait in a buffer of at most maxBufferedBytes for a
// writer thread of their own, which writes each line and its line feed in a single write(2), so
// lines from different queues never interleave and a reader sees each one as soon as it can take
// it. A reader that stops draining the pipe therefore cannot stall the queue that logs (the
// server's frames, pongs and deadlines): lines that find the buffer full are dropped, and the
// diagnostic log says how many. A reader that went away (`| head -n 2`) ends the writing, never
// the host. The last copy of the sink, when destroyed, waits up to drainTimeout for the lines
// still in the buffer, so the last events of a shutdown are not lost.
[[nodiscard]] LogSink backgroundLog(int fd, std::size_t maxBufferedBytes = std::size_t{1} << 20,
                                    std::chrono::milliseconds drainTimeout = std::chrono::seconds(2));

// Writes line and a line feed to fd in one write(2). Only a partial write (a line longer than the
// pipe's atomic size, or a signal) is followed by further writes for the rest, so no text is lost.
// False when the descriptor failed (the reader is gone, or it was never open). Blocks while the
// reader does not drain: callers on a queue use backgroundLog().
bool writeLine(int fd, std::string_view line);

}  // namespace vantrel
