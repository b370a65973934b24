#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Capture/ScreenCapturer.hpp"
#include "Capture/ScreenStreamer.hpp"
#include "Headless/TestPattern.hpp"
#include "vantrel/ControlMessages.hpp"

namespace vantrel {

// The headless host's screen, as the screen streamer sees it: its synthetic displays side by
// side from the left (the first one primary), a picture that changes at every look, and each grab
// the test pattern's next frame at the watched display's stream size.
//
// Lives on the streamer's queue ("vantrel.capture"). The streamer makes a capturer per stream;
// the capturers of one factory share the pattern and its tick count, so the tick runs on across
// streams (phones coming and going, display switches) and advances by one per grab, that is per
// frame encoded.
class TestPatternCapturer final : public ScreenCapturer {
public:
    // The pattern and the tick of the next grab, shared by the capturers of one factory.
    struct SharedPattern {
        TestPattern drawing;
        std::int64_t nextTick = 0;
    };

    TestPatternCapturer(std::vector<DisplayInfo> displays, std::shared_ptr<SharedPattern> pattern);

    // Capturers of displays, all drawing with one pattern and one tick count.
    [[nodiscard]] static ScreenStreamer::CapturerFactory factory(std::vector<DisplayInfo> displays);

    [[nodiscard]] std::vector<MonitorFacts> monitors() override;
    [[nodiscard]] CaptureStatus watch(const Rect& area, StreamSize size) override;
    [[nodiscard]] ScreenChanges changes() override;
    [[nodiscard]] CaptureResult grab() override;

private:
    std::vector<DisplayInfo> displays_;
    std::shared_ptr<SharedPattern> pattern_;
    StreamSize size_;
};

}  // namespace vantrel
