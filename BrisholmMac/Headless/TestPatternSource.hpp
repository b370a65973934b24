#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>

#include "Headless/FramePump.hpp"
#include "Headless/TestPattern.hpp"
#include "Host/FrameSource.hpp"

namespace vantrel {

class VideoEncoder;

// The headless host's pictures: the moving test pattern at the active display's size, one
// picture per pump tick, on "vantrel.pattern", stamped with the host clock when it is handed to
// the encoder. It pumps only while a phone watches (between start and stop); the tick count runs
// on across pauses.
//
// start, stop and sendKeyframeNow come from the main queue; the size is the one piece of state
// the pump shares with them, under its own lock.
class TestPatternSource final : public FrameSource {
public:
    TestPatternSource(std::shared_ptr<VideoEncoder> encoder, std::chrono::nanoseconds interval);

    void start(const DisplayInfo& display, std::function<void(Failure)> started) override;
    void stop(std::function<void()> stopped) override;
    void sendKeyframeNow() override;

private:
    void pumpFrame(std::int64_t tick);

    std::shared_ptr<VideoEncoder> encoder_;
    TestPattern pattern_;  // used on the pump's queue only

    std::mutex sizeLock_;
    std::int64_t width_ = 0;   // guarded by sizeLock_
    std::int64_t height_ = 0;  // guarded by sizeLock_

    // Last, so it stops (and waits for a running tick) before the members that tick uses go.
    FramePump pump_;
};

}  // namespace vantrel
