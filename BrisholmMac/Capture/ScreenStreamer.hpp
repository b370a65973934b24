#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "CapturePolicy.hpp"
#include "EncodeHandoff.hpp"
#include "HostClock.hpp"
#include "ScreenCapturer.hpp"
#include "VideoEncoder.hpp"
#include "vantrel/SerialQueue.hpp"

namespace vantrel {

// Why capture could not start or had to end. description is the text the menu shows.
struct CaptureError {
    enum class Kind {
        noDisplay,    // the display server has no monitor to capture
        unavailable,  // the display cannot be opened or read
        lost,         // the connection to the display server broke
        displayGone,  // the captured monitor was removed
    };
    Kind kind = Kind::unavailable;
    std::string description;

    bool operator==(const CaptureError&) const = default;
};

// Captures one display and feeds its changes to the video encoder: paced to at most the
// encoder's framesPerSecond (or the interval given), a frame only when the picture or the pointer
// changed, the last frame kept so that a key frame can be made on request while the screen is
// still, and, once the screen has been still for a moment, that frame encoded again in a few
// refinement passes so that still text ends up sharp (CapturePolicy).
//
// While things change it looks at the screen once per interval. With a capturer that names a
// source of news (the X11 one: its connection, which carries damage, the pointer's image and raw
// pointer motion), a look that finds nothing changed lets it rest: no timer ticks until the
// descriptor turns readable (a look then follows at once, or one interval after the last), a
// refinement is due, or the capturer's longest rest has passed. A still screen with a phone
// watching thus costs nothing on the capture side.
//
// Two queues of its own, so that grabbing the next frame overlaps encoding the current one on a
// second core: "vantrel.capture" looks at the screen, grabs and decides; "vantrel.encode" makes
// every call of the encoder (frames, key-frame re-encodes, refinement passes, dropping the session
// on stop()). An EncodeHandoff between them keeps at most one picture encoding and one waiting (a
// newer grab replaces the waiting one), so the X11 capturer's three frame buffers suffice (being
// filled, waiting or encoding, kept as the last frame). A tick that comes late is dropped rather
// than queued behind the one before. While the server holds frames back for a phone that fell
// behind, grabbed frames are kept as the last frame but not encoded: the server would drop them,
// and it resumes with a key frame made from the last frame.
//
// start(), stop(), sendKeyframeNow() and setCongested() may be called from any thread; their
// completions and onStopped run on the capture queue, stop()'s once the encodes handed over before
// it have run. A tick or an encode in progress holds the streamer, so dropping the last reference
// does not wait for it: whoever owns the encoder's receivers calls stop() and waits for its
// completion before they go.
class ScreenStreamer : public std::enable_shared_from_this<ScreenStreamer> {
public:
    using CapturerFactory = std::function<std::unique_ptr<ScreenCapturer>()>;
    using Completion = std::function<void(std::optional<CaptureError>)>;

    // Captures with makeCapturer's capturers (the desktop backend's, or the headless host's test
    // pattern), one per started stream, each made on the capture queue, with a tick every interval
    // (when given), by default one per frame the encoder plans for. The headless host's test pattern
    // ticks at 30 a second under an encoder planned for 60.
    [[nodiscard]] static std::shared_ptr<ScreenStreamer> create(
        std::shared_ptr<VideoEncoder> encoder, CapturerFactory makeCapturer, RefinementTiming timing = {},
        std::optional<std::chrono::nanoseconds> interval = std::nullopt);

    ~ScreenStreamer();
    ScreenStreamer(const ScreenStreamer&) = delete;
    ScreenStreamer& operator=(const ScreenStreamer&) = delete;

    // Called when a running stream ends without stop(): the display connection broke or the
    // captured monitor disappeared. The last frame and the encoder's session are kept. Set while
    // wiring, before the first start().
    std::function<void(std::optional<CaptureError>)> onStopped;

    // Stops any running stream (with the clean-up of stop()), then captures displayId, or the
    // first display (primary first) when no monitor has that id. The completion gets no error
    // once the stream runs; its first frame is a key frame, grabbed and encoded right after the
    // completion in the same step on the capture queue.
    void start(std::uint32_t displayId, Completion completion);

    // Ends the running stream, drops the last frame and the encoder's session, so the next start
    // begins with a fresh configuration and a key frame; then calls completion. Without a running
    // stream it changes nothing.
    void stop(std::function<void()> completion);

    // As stop(), and returns once the stream has ended and the encodes handed over before have run:
    // no grab or encode starts after that. From the capture queue itself it stops at once.
    void stopAndWait();

    // The next frame is a key frame, and it is made at once from the last frame, so a phone that
    // asks gets one even while the screen does not change.
    void sendKeyframeNow();

    // Whether the server is holding frames back; refinements wait while it is.
    void setCongested(bool congested);

    // The display being captured, if any. For tests and diagnostics; reads the queue's state
    // synchronously, so never call it from a completion.
    [[nodiscard]] std::optional<std::uint32_t> capturedDisplay();

private:
    ScreenStreamer(std::shared_ptr<VideoEncoder> encoder, CapturerFactory makeCapturer, RefinementTiming timing,
                   std::optional<std::chrono::nanoseconds> interval);

    // Debug builds stop at queue-confined work running anywhere but the capture queue.
    void checkQueue() const;
    void startOnQueue(std::uint32_t displayId, const Completion& completion);
    void stopOnQueue();
    void end(CaptureError error, const std::string& reason);
    void tick(std::uint64_t generation);
    void schedule(std::uint64_t generation);
    // Waits for news or until, whichever comes first, then looks again.
    void rest(CapturePolicy::Clock::time_point until);
    void waitForNews();
    void wake();
    // The stream ended: no rest, no wait on its news.
    void stopResting();
    bool followMonitors();
    // Offers job to the encoder; it runs now, waits for the running one, or is not needed.
    void handOver(EncodeJob job);
    // Runs job on the encoding queue, then reports its end back to the capture queue.
    void encodeOnQueue(EncodeJob job);
    void encoded(EncodeJob::Kind kind, CapturePolicy::Clock::time_point at, bool sharpenable, std::uint64_t generation);

    const std::shared_ptr<VideoEncoder> encoder_;
    const CapturerFactory makeCapturer_;
    const std::chrono::nanoseconds interval_;
    std::atomic<bool> congested_{false};

    // Confined to the queue.
    std::unique_ptr<ScreenCapturer> capturer_;  // set while a stream runs
    // The capturer's news, while a stream runs with a capturer that has some.
    std::optional<NewsSource> newsSource_;
    struct NewsWatch;  // an asio descriptor over a duplicate of the capturer's
    std::unique_ptr<NewsWatch> news_;
    bool waitingForNews_ = false;  // a wait on news_ is outstanding
    bool resting_ = false;
    std::uint64_t rest_ = 0;  // bumped by every rest and wake, so a stale rest timer does nothing
    std::uint32_t displayId_ = 0;
    Rect area_;
    std::shared_ptr<const PixelBuffer> lastFrame_;
    CapturePolicy policy_;
    EncodeHandoff handoff_;
    bool refining_ = false;  // a refinement pass is with the encoder
    // Bumped by every start and end, so that ticks of an earlier stream do nothing.
    std::uint64_t generation_ = 0;
    CapturePolicy::Clock::time_point served_;

    // Last members: destroyed first, so their threads have stopped before the state above goes.
    // Work on either holds the streamer only weakly until it runs.
    SerialQueue encodeQueue_{"vantrel.encode"};
    SerialQueue queue_{"vantrel.capture"};
};

}  // namespace vantrel
