#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace vantrel {

// When one frame passed each stage on the host, in host-clock microseconds (hostClockMicros).
struct FrameStamps {
    std::uint64_t grabbed = 0;    // read from the screen: the frame's time stamp on the wire
    std::uint64_t converted = 0;  // in the encoder's colour planes
    std::uint64_t encoded = 0;    // compressed
    std::uint64_t sent = 0;       // handed to the phone's connection

    bool operator==(const FrameStamps&) const = default;
};

// The median, the 95th percentile and the largest of a series (nearest rank: the smallest
// value with at least that share of the series at or below it); all zero for none.
struct Percentiles {
    std::uint64_t p50 = 0;
    std::uint64_t p95 = 0;
    std::uint64_t max = 0;

    bool operator==(const Percentiles&) const = default;
};
[[nodiscard]] Percentiles percentilesOf(std::vector<std::uint64_t> values);

// One window's frames, stage by stage, in microseconds.
struct StageSummary {
    std::uint64_t windowMicros = 0;  // from the window's first stamp to the one that closed it
    std::uint64_t sent = 0;          // frames handed to the connection
    std::uint64_t notSent = 0;       // encoded frames the server held back (or that never came out)
    Percentiles convert;             // grabbed to converted
    Percentiles encode;              // converted to encoded
    Percentiles send;                // encoded to handed to the connection
    Percentiles total;               // grabbed to handed to the connection

    // One line: "stages: 60 frames sent (0 held back) in 1.00 s; convert p50 0.61 p95 0.92 max ...".
    [[nodiscard]] std::string describe() const;
};

// Where the host's time goes for each frame between the screen and the socket, from the stamps
// the encoder and the server report: per frame for the diagnostic log, and as percentiles per
// window (a second) for --stats. The phone adds receipt and decoding to the same clock when it
// runs on this machine (vantrel-probe --frame-times, bench/desktop-latency.sh).
//
// Pure bookkeeping with the time passed in; thread-safe, since the encoder reports on the capture
// queue and the server on its own.
class FrameStages {
public:
    // Frames encoded but not (yet) sent that are remembered; older ones count as held back.
    static constexpr std::size_t pendingLimit = 32;

    explicit FrameStages(std::uint64_t windowMicros = 1'000'000) : windowMicros_(windowMicros) {}

    // The window's summary, once per window, from the thread of the stamp that closed it. Set
    // while wiring.
    std::function<void(const StageSummary&)> onSummary;

    // The encoder compressed the frame stamped grabbed.
    void encoded(std::uint64_t grabbed, std::uint64_t converted, std::uint64_t encoded);

    // The server handed the frame stamped grabbed to the connection at sent. Returns its stamps
    // when the encoder reported it (a frame sent twice is matched once). Closes the window, and
    // reports its summary, when sent lies a window or more after the window's start.
    std::optional<FrameStamps> sent(std::uint64_t grabbed, std::uint64_t sent);

private:
    struct Window {
        std::uint64_t start = 0;
        std::uint64_t notSent = 0;
        std::vector<std::uint64_t> convert;
        std::vector<std::uint64_t> encode;
        std::vector<std::uint64_t> send;
        std::vector<std::uint64_t> total;
    };

    // Under lock_.
    std::optional<StageSummary> closeWindowIfDue(std::uint64_t now);

    const std::uint64_t windowMicros_;
    std::mutex lock_;
    std::deque<FrameStamps> pending_;  // guarded by lock_
    std::optional<Window> window_;     // guarded by lock_; none before the first stamp
};

}  // namespace vantrel
