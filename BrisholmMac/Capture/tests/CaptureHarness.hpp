#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "ScreenCapturer.hpp"
#include "ScreenStreamer.hpp"
#include "VideoEncoder.hpp"

namespace vantrel::testing {

// The encoder's output as it arrives on the capture queue, readable from the test's thread.
class StreamRecord {
public:
    using Output = std::variant<VideoConfig, VideoFrame>;

    explicit StreamRecord(VideoEncoder& encoder);

    // "C" for a configuration, "K" for a key frame, "P" for another frame, in order.
    [[nodiscard]] std::string shape() const;
    [[nodiscard]] std::vector<Output> outputs() const;
    [[nodiscard]] std::vector<VideoFrame> frames() const;
    // Every frame decoded as a phone would (null where decoding failed).
    [[nodiscard]] std::vector<std::shared_ptr<const PixelBuffer>> decoded() const;

private:
    mutable std::mutex lock_;
    std::vector<Output> outputs_;
};

// A desktop for fake capturers: its monitors, whether its picture changes, and what the capturers
// were asked. The test changes it while the capture queue reads it.
struct FakeScreen {
    std::mutex lock;
    std::vector<MonitorFacts> monitors;                // guarded by lock
    bool changing = false;                             // guarded by lock: every look sees a change
    bool broken = false;                               // guarded by lock: every call fails for good
    bool refuseCapturers = false;                      // guarded by lock: the display cannot be opened
    std::vector<std::pair<Rect, StreamSize>> watched;  // guarded by lock
    std::atomic<int> capturersMade{0};
    std::atomic<int> looks{0};  // changes() calls
    std::atomic<int> grabs{0};

    // News, as a streamer can wait for it: with newsEnabled() the capturers name a pipe whose
    // read end turns readable at drawn(), which the next look reports as a change once.
    ~FakeScreen();
    void enableNews();
    void drawn();
    std::atomic<int> rests{0};              // the streamer was told no news was pending
    std::atomic<int> looksWhileResting{0};  // looks after such a rest and before the next news
    int newsRead = -1;
    int newsWrite = -1;
    std::atomic<bool> resting{false};

    // Changes the guarded fields.
    void update(const std::function<void(FakeScreen&)>& change);
};

// Capturers of a fake screen. Each grab is a picture of the watched stream size whose pixels all
// carry the grab's number, so the test can tell which grab a decoded frame came from.
[[nodiscard]] std::function<std::unique_ptr<ScreenCapturer>()> fakeCapturers(std::shared_ptr<FakeScreen> screen);

MonitorFacts fakeMonitor(std::uint32_t id, bool primary, Rect bounds);

// How a streamer's stream ended, for a test that ends it from outside (a monitor unplugged):
// takes the streamer's onStopped.
class StreamEnd {
public:
    explicit StreamEnd(ScreenStreamer& streamer);
    // The kind of error the stream ended with; none when it did not end within timeout, or ended
    // without one.
    [[nodiscard]] std::optional<CaptureError::Kind> kind(std::chrono::milliseconds timeout = std::chrono::seconds(5));

private:
    std::mutex lock_;
    std::condition_variable ended_;
    std::optional<std::optional<CaptureError>> error_;  // guarded by lock_
};

// start() and stop() of a streamer, waiting for their completions.
std::optional<CaptureError> startAndWait(ScreenStreamer& streamer, std::uint32_t display);
void stopAndWait(ScreenStreamer& streamer);

}  // namespace vantrel::testing
