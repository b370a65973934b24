#include "Headless/TestPatternSource.hpp"

#include "Capture/ScreenStreamer.hpp"
#include "Capture/VideoEncoder.hpp"

namespace vantrel {

TestPatternSource::TestPatternSource(std::shared_ptr<ScreenStreamer> streamer, std::shared_ptr<VideoEncoder> encoder)
    : streamer_(std::move(streamer)), encoder_(std::move(encoder)) {}

void TestPatternSource::prepare(const DisplayInfo& display) {
    // The stream's first picture is grabbed and encoded in the same step on the capture queue as
    // its start, so once the stop behind it is done, exactly that one has been encoded.
    streamer_->start(display.id, {});
    streamer_->stopAndWait();
}

void TestPatternSource::start(const DisplayInfo& display, std::function<void(Failure)> started) {
    streamer_->start(display.id, [started = std::move(started)](std::optional<CaptureError> error) {
        if (started) {
            started(error ? std::optional<std::string>(error->description) : std::nullopt);
        }
    });
}

void TestPatternSource::stop(std::function<void()> stopped) {
    streamer_->stopAndWait();
    if (stopped) {
        stopped();
    }
}

void TestPatternSource::sendKeyframeNow() {
    encoder_->requestKeyframe();
}

void TestPatternSource::setHoldingBack(bool holding) {
    streamer_->setCongested(holding);
}

}  // namespace vantrel
