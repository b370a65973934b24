#pragma once

#include <chrono>
#include <cstdint>
#include <optional>

namespace vantrel {

// The server's congestion control for one client, without any I/O: it measures how far the
// client is behind, decides which frames go out, when the encoder must make a key frame, and
// moves the target bitrate once per second (down 40 % after a congested second, up 10 % after a
// clean one). It needs no help from the network layer: the backlog is the client's own frame
// acknowledgements once it sends them, and the sends still queued on the host before that.
//
// Confined to the thread of its owner (the server's "vantrel.server" queue); time comes in as an
// argument, so tests drive it with a clock of their own.
class CongestionController {
public:
    using Nanoseconds = std::chrono::nanoseconds;

    static constexpr std::int64_t initialBitrate = 8'000'000;
    static constexpr std::int64_t minimumBitrate = 1'500'000;
    static constexpr std::int64_t maximumBitrate = 14'000'000;
    // A window closes at the first frame that finds more than this passed since it opened.
    static constexpr Nanoseconds windowLength = std::chrono::seconds(1);
    // A frame that finds a backlog above this marks its window congested.
    static constexpr std::int64_t congestionBacklog = 4;
    // A frame that finds a backlog above this starts dropping until a key frame.
    static constexpr std::int64_t dropBacklog = 8;
    // A key frame resumes the stream only at this backlog or below.
    static constexpr std::int64_t resumeBacklog = 2;

    // What the server does with one encoded frame, in this order: report the new bitrate (if
    // any), ask for a key frame keyframeRequests times (0 or 1), then send the frame or not.
    struct FrameDecision {
        std::optional<std::int64_t> newBitrate;
        int keyframeRequests = 0;
        bool send = false;

        bool operator==(const FrameDecision&) const = default;
    };

    // The window starts at `now`, the monotonic time of construction.
    explicit CongestionController(Nanoseconds now);

    // A client was greeted: a fresh measure, the initial bitrate, and nothing sent until the
    // first key frame.
    void reset(Nanoseconds now);

    // The client acknowledged a frame: from now on its acknowledgements are the measure.
    void frameAcknowledged();

    // A frame is offered for sending; pendingSends is the connection's count of unfinished sends.
    // While frames are held back with a backlog above resumeBacklog, a key frame would only be
    // discarded too, so the requests of that time (a discarded key frame's, the client's own)
    // are coalesced into one, made by the first frame that finds the backlog low enough for a
    // key frame to go out. A stalled client thus costs no stream of key frames.
    [[nodiscard]] FrameDecision offerFrame(bool isKeyframe, std::int64_t pendingSends, Nanoseconds now);

    // The client asked for a key frame: true when the encoder should be asked now; false while
    // frames are held back for the backlog, as the stream resumes at a key frame requested in time.
    [[nodiscard]] bool keyframeRequestedByClient();

    // Frames the client has not taken in yet: its unacknowledged frames once it acknowledges,
    // else the sends still queued on the host.
    [[nodiscard]] std::int64_t backlog(std::int64_t pendingSends) const;

    void setDroppingUntilKeyframe(bool dropping) {
        droppingUntilKeyframe_ = dropping;
        keyframeOwed_ = false;
        heldBack_ = false;
    }

    [[nodiscard]] std::int64_t bitrate() const { return bitrate_; }
    [[nodiscard]] std::int64_t framesInFlight() const { return framesInFlight_; }
    [[nodiscard]] bool clientAcksFrames() const { return clientAcksFrames_; }
    [[nodiscard]] bool droppingUntilKeyframe() const { return droppingUntilKeyframe_; }
    [[nodiscard]] bool congestedInWindow() const { return congestedInWindow_; }

private:
    // Marks congestion and, once a window has passed, moves the bitrate; returns the new value
    // when it changed.
    std::optional<std::int64_t> adaptBitrate(std::int64_t backlog, Nanoseconds now);

    bool droppingUntilKeyframe_ = false;
    // A key frame request held back until the backlog lets a key frame through.
    bool keyframeOwed_ = false;
    // The last frame offered while dropping found the backlog above resumeBacklog.
    bool heldBack_ = false;
    std::int64_t bitrate_ = initialBitrate;
    bool congestedInWindow_ = false;
    Nanoseconds windowStart_;
    std::int64_t framesInFlight_ = 0;
    bool clientAcksFrames_ = false;
};

}  // namespace vantrel
