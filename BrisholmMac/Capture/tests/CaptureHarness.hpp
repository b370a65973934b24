#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <variant>
#include <vector>

#include "ScreenCapturer.hpp"
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
    [[nodiscard]] std::size_t frameCount() const;

private:
    mutable std::mutex lock_;
    std::vector<Output> outputs_;
};

// A desktop for fake capturers: its monitors, whether its picture changes, and what the capturers
// were asked. The test changes it while the capture queue reads it, so every access locks.
struct FakeScreen {
    std::mutex lock;
    std::vector<MonitorFacts> monitors;
    bool changing = false;        // every look reports a changed picture
    bool broken = false;          // the connection broke: every call fails for good
    bool refuseCapturers = false; // the display cannot be opened
    int capturersMade = 0;
    int looks = 0;                // changes() calls
    int grabs = 0;
    std::vector<std::pair<Rect, StreamSize>> watched;

    // Sets fields under the lock.
    void update(const std::function<void(FakeScreen&)>& change);
    // Reads fields under the lock.
    template <typename T>
    T read(const std::function<T(FakeScreen&)>& get) {
        std::lock_guard guard(lock);
        return get(*this);
    }
};

// Capturers of a fake screen. Each grab is a picture of the watched stream size whose pixels all
// carry the grab's number, so the test can tell which grab a decoded frame came from.
[[nodiscard]] std::function<std::unique_ptr<ScreenCapturer>()> fakeCapturers(std::shared_ptr<FakeScreen> screen);

MonitorFacts fakeMonitor(std::uint32_t id, bool primary, Rect bounds);

}  // namespace vantrel::testing
