#include "Headless/TestPatternCapturer.hpp"

#include <utility>

namespace vantrel {

TestPatternCapturer::TestPatternCapturer(std::vector<DisplayInfo> displays, std::shared_ptr<SharedPattern> pattern)
    : displays_(std::move(displays)), pattern_(std::move(pattern)) {}

ScreenStreamer::CapturerFactory TestPatternCapturer::factory(std::vector<DisplayInfo> displays) {
    return [displays = std::move(displays),
            pattern = std::make_shared<SharedPattern>()]() -> std::unique_ptr<ScreenCapturer> {
        return std::make_unique<TestPatternCapturer>(displays, pattern);
    };
}

std::vector<MonitorFacts> TestPatternCapturer::monitors() {
    // Each display's points are its pixels, so the stream size of each is its own size.
    std::vector<MonitorFacts> monitors;
    double left = 0;
    for (const auto& display : displays_) {
        MonitorFacts monitor;
        monitor.id = display.id;
        monitor.primary = monitors.empty();
        monitor.bounds = {left, 0, static_cast<double>(display.width), static_cast<double>(display.height)};
        monitor.monitorName = display.name;
        monitors.push_back(std::move(monitor));
        left += static_cast<double>(display.width);
    }
    return monitors;
}

CaptureStatus TestPatternCapturer::watch(const Rect& /*area*/, StreamSize size) {
    size_ = size;
    return CaptureStatus::ok;
}

ScreenChanges TestPatternCapturer::changes() {
    // The bar moves at every tick.
    ScreenChanges changes;
    changes.picture = true;
    return changes;
}

CaptureResult TestPatternCapturer::grab() {
    // A tick whose frame cannot be made is used up all the same, as a skipped tick is.
    const auto tick = pattern_->nextTick++;
    auto frame = pattern_->drawing.frame(size_.width, size_.height, tick);
    if (!frame) {
        return {CaptureStatus::temporaryError, nullptr, "no picture of that size"};
    }
    return {CaptureStatus::ok, std::move(frame), {}};
}

}  // namespace vantrel
