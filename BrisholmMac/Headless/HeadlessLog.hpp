#pragma once

#include <functional>
#include <string_view>

namespace vantrel {

// Where the headless host's log lines go: one call per event, the line without its line feed.
// Called from several queues at once, so a sink must be thread-safe.
using LogSink = std::function<void(std::string_view line)>;

// The production sink: each line and its line feed go to standard output in a single write(2),
// with no buffering of our own, so lines from different queues never interleave and a reader of
// the pipe sees each line as soon as the event happened.
[[nodiscard]] LogSink standardOutputLog();

// Writes line and a line feed to fd in one write(2). Only a partial write (a line longer than the
// pipe's atomic size, or a signal) is followed by further writes for the rest, so no text is lost.
// Errors are ignored: a log nobody reads must not stop the host.
void writeLine(int fd, std::string_view line);

}  // namespace vantrel
