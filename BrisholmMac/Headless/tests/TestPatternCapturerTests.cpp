#include <gtest/gtest.h>

#include "Capture/Displays.hpp"
#include "Headless/HeadlessHost.hpp"
#include "Headless/TestPatternCapturer.hpp"

namespace vantrel {
namespace {

// What the screen streamer reads from the headless host's screen: the synthetic displays, each
// streamed at exactly its own size, the first one primary.
TEST(TestPatternCapturer, ShowsTheDisplaysSideBySideEachAtItsOwnSize) {
    const auto make = TestPatternCapturer::factory(HeadlessHost::displays(true));
    const auto capturer = make();
    const auto monitors = primaryFirst(capturer->monitors());
    ASSERT_EQ(monitors.size(), 2u);
    EXPECT_EQ(monitors[0].id, 1u);
    EXPECT_TRUE(monitors[0].primary);
    EXPECT_EQ(monitors[0].bounds, (Rect{0, 0, 1280, 720}));
    EXPECT_EQ(monitors[1].id, 2u);
    EXPECT_FALSE(monitors[1].primary);
    EXPECT_EQ(monitors[1].bounds, (Rect{1280, 0, 1024, 768}));
    EXPECT_EQ(displayNames(monitors), (std::vector<std::string>{"Testbild", "Testbild 2"}));
    EXPECT_EQ(streamSizeFor(1280, 720), (StreamSize{1280, 720}));
    EXPECT_EQ(streamSizeFor(1024, 768), (StreamSize{1024, 768}));

    EXPECT_EQ(TestPatternCapturer::factory(HeadlessHost::displays(false))()->monitors().size(), 1u);
}

// Every look sees a change, and every grab is the pattern's next tick at the watched size; the
// tick runs on into the next capturer of the same factory, as it does into the next stream. The
// last frame is held meanwhile, as the streamer holds it, and each frame says where it differs
// from the one before.
TEST(TestPatternCapturer, EachGrabIsTheNextTickAcrossCapturers) {
    const auto make = TestPatternCapturer::factory(HeadlessHost::displays(true));
    std::shared_ptr<const PixelBuffer> last;
    std::int64_t tick = 0;
    for (const StreamSize size : {StreamSize{1280, 720}, StreamSize{1024, 768}}) {
        SCOPED_TRACE(size.width);
        const auto capturer = make();
        ASSERT_EQ(capturer->watch({0, 0, static_cast<double>(size.width), static_cast<double>(size.height)}, size),
                  CaptureStatus::ok);
        for (int grab = 0; grab < 3; ++grab, ++tick) {
            const auto changes = capturer->changes();
            EXPECT_EQ(changes.status, CaptureStatus::ok);
            EXPECT_TRUE(changes.picture);
            EXPECT_FALSE(changes.monitors);
            const auto result = capturer->grab();
            ASSERT_EQ(result.status, CaptureStatus::ok);
            ASSERT_NE(result.frame, nullptr);
            EXPECT_EQ(result.frame->width(), size.width);
            EXPECT_EQ(result.frame->height(), size.height);
            const auto bar = static_cast<std::size_t>(TestPattern::barX(size.width, tick));
            EXPECT_EQ(bar, static_cast<std::size_t>(8 * tick));
            EXPECT_EQ(result.frame->row(0)[bar * 4 + 2], 255) << "the bar of tick " << tick;
            EXPECT_NE(result.frame->row(0)[(bar + 40) * 4 + 2], 255) << "the bar of tick " << tick;
            if (grab > 0) {
                ASSERT_TRUE(result.frame->change().has_value());
                EXPECT_EQ(result.frame->change()->since, last->serial());
            }
            last = result.frame;
        }
    }
}

}  // namespace
}  // namespace vantrel
