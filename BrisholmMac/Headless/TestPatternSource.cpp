#include "Headless/TestPatternSource.hpp"

#include "Capture/PixelBuffer.hpp"
#include "Capture/VideoEncoder.hpp"

namespace vantrel {

TestPatternSource::TestPatternSource(std::shared_ptr<VideoEncoder> encoder, std::chrono::nanoseconds interval)
    : encoder_(std::move(encoder)), pump_("vantrel.pattern", interval) {
    pump_.onTick = [this](std::int64_t tick) { pumpFrame(tick); };
}

void TestPatternSource::setSize(const DisplayInfo& display) {
    const std::lock_guard guard(sizeLock_);
    width_ = display.width;
    height_ = display.height;
}

void TestPatternSource::prepare(const DisplayInfo& display) {
    setSize(display);
    // On the pump's queue, where every encode runs. Tick 0 comes before the pump's first tick, so
    // the bar moves on from here as it does from any picture.
    pump_.queue().sync([this] { pumpFrame(0); });
}

void TestPatternSource::start(const DisplayInfo& display, std::function<void(Failure)> started) {
    setSize(display);
    // A running pump just draws the new size from its next tick on; the encoder makes a new
    // session (configuration and key frame) for it.
    pump_.start();
    if (started) {
        started(std::nullopt);
    }
}

void TestPatternSource::stop(std::function<void()> stopped) {
    pump_.stop();
    if (stopped) {
        stopped();
    }
}

void TestPatternSource::sendKeyframeNow() {
    // The next tick comes within one interval and is the key frame.
    encoder_->requestKeyframe();
}

void TestPatternSource::pumpFrame(std::int64_t tick) {
    std::int64_t width = 0;
    std::int64_t height = 0;
    {
        const std::lock_guard guard(sizeLock_);
        width = width_;
        height = height_;
    }
    const auto frame = pattern_.frame(width, height, tick);
    if (!frame) {
        return;  // no buffer of that size: this tick is skipped
    }
    encoder_->encode(*frame, hostClockMicros());
}

}  // namespace vantrel
