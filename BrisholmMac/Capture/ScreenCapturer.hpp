#pragma once

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Displays.hpp"
#include "PixelBuffer.hpp"

namespace vantrel {

// How a capture call went. A temporary error loses one frame and the next tick tries again; a
// permanent one (the display connection broke, the watched monitor is gone) ends the stream.
enum class CaptureStatus { ok, temporaryError, permanentError };

// What happened on screen since the last look.
struct ScreenChanges {
    CaptureStatus status = CaptureStatus::ok;
    bool picture = false;   // something was drawn inside the watched area
    bool cursor = false;    // the pointer moved or its image changed
    bool monitors = false;  // the monitor layout may have changed: read monitors() again
    std::string reason;     // for a failed status: why, for the log and the user
};

// Where a capturer's news comes from, for a streamer that rests while nothing changes: a
// descriptor that turns readable when the display server sends news for changes() (something
// drawn, the pointer moved or changed its image, the monitors changed), and how long the streamer
// may rest at most (for what comes without news).
struct NewsSource {
    int descriptor = -1;
    std::chrono::nanoseconds lookAtLeastEvery{std::chrono::seconds(1)};
};

struct CaptureResult {
    CaptureStatus status = CaptureStatus::ok;
    std::shared_ptr<const PixelBuffer> frame;  // set when status is ok
    std::string reason;
};

// One display server connection that captures one area of the desktop at a time: the picture
// with the pointer drawn in, scaled to the stream size, and cheap answers to "did anything change?"
// so that a still screen costs next to nothing. Display-server errors come back as results.
//
// Lives on the capture queue ("vantrel.capture"); the desktop backend makes one per stream (the
// X11 one owns a connection of its own there).
class ScreenCapturer {
public:
    virtual ~ScreenCapturer() = default;

    // The monitors now, in the server's order (names may be left out); empty when none or when
    // the server cannot be read.
    [[nodiscard]] virtual std::vector<MonitorFacts> monitors() = 0;

    // From now on captures area (desktop points) scaled to size; the next changes() reports the
    // whole area as changed.
    [[nodiscard]] virtual CaptureStatus watch(const Rect& area, StreamSize size) = 0;

    // What changed since the last call (or since watch()).
    [[nodiscard]] virtual ScreenChanges changes() = 0;

    // The watched area as it is now, with the pointer drawn in, at the stream size.
    [[nodiscard]] virtual CaptureResult grab() = 0;

    // Where news comes from, when the capturer can say; none for a capturer that must be asked
    // every tick. The descriptor stays valid while the capturer lives.
    [[nodiscard]] virtual std::optional<NewsSource> news() { return std::nullopt; }

    // Whether news has already come in that the next changes() will report. The descriptor does
    // not turn readable for it, so a streamer looks again instead of resting.
    [[nodiscard]] virtual bool newsPending() { return false; }
};

}  // namespace vantrel
