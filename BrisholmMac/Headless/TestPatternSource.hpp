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
// on across pauses. One picture is encoded at start-up (prepare), so that the stream's
// configuration is known before the first phone comes and every greeting carries it.
//
// prepare, start, stop and sendKeyframeNow come from the main queue; the size is the one piece
// of state the pump shares with them, under its own lock.
class TestPatternSource final : public FrameSource {
public:
    TestPatternSource(std::shared_ptr<VideoEncoder> encoder, std::chrono::nanoseconds interval);

    void start(const DisplayInfo& display, std::function<void(Failure)> started) override;
    void stop(std::function<void()> stopped) override;
    void sendKeyframeNow() override;

    // Encodes one picture of display at once, with nobody watching, and returns when the encoder
    // has reported it: the server then holds the stream's configuration for the first greeting,
    // as it does for every later one. The picture itself reaches no phone.
    void prepare(const DisplayInfo& display);

private:
    void setSize(const DisplayInfo& display);
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
