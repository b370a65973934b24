#pragma once

#include <memory>

#include "Host/FrameSource.hpp"

namespace vantrel {

class ScreenStreamer;
class VideoEncoder;

// The headless host's pictures: the screen streamer over the test pattern's capturer
// (TestPatternCapturer), which paces, stamps with the host clock and encodes on
// "vantrel.capture". It runs only while a phone watches (between start and stop); the pattern's
// tick runs on across pauses. One picture is encoded at start-up (prepare), so that the stream's
// configuration is known before the first phone comes and every greeting carries it.
//
// Two things differ from the desktop's source over the same streamer, both so that each frame a
// phone gets is the pattern's next tick and nothing is encoded once nobody watches: a key frame
// comes with the next grab, within one interval, rather than as the last picture encoded again
// (the pattern changes at every tick, so that would only send one picture twice); and stop
// returns once the streamer has stopped.
//
// The pattern's capturer neither fails nor loses a display, so the stream never ends by itself and
// onStopped and onDisplayGone stay silent. Called from the main queue.
class TestPatternSource final : public FrameSource {
public:
    // encoder is the one streamer encodes with.
    TestPatternSource(std::shared_ptr<ScreenStreamer> streamer, std::shared_ptr<VideoEncoder> encoder);

    void start(const DisplayInfo& display, std::function<void(Failure)> started) override;
    void stop(std::function<void()> stopped) override;
    void sendKeyframeNow() override;
    void setHoldingBack(bool holding) override;

    // Encodes one picture of display at once, with nobody watching, and returns when the encoder
    // has reported it: the server then holds the stream's configuration for the first greeting,
    // as it does for every later one. The picture itself reaches no phone.
    void prepare(const DisplayInfo& display);

private:
    std::shared_ptr<ScreenStreamer> streamer_;
    std::shared_ptr<VideoEncoder> encoder_;
};

}  // namespace vantrel
