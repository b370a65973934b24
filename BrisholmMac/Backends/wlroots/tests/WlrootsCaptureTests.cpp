// The wlroots capturer against a sway of the test's own: one picture for a still screen, pictures
// that show what was drawn and say which part changed, scaling to a smaller stream, and a stream
// that ends when its output is unplugged.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <poll.h>

#include "Backends/wlroots/WlrootsScreenCapturer.hpp"
#include "CaptureHarness.hpp"
#include "PrivateSway.hpp"
#include "ScreenStreamer.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using testing::PrivateSway;
using testing::waitUntil;

std::uint32_t rgbAt(const PixelBuffer& frame, std::int32_t x, std::int32_t y) {
    const auto* pixel = frame.row(y).data() + x * 4;
    return static_cast<std::uint32_t>(pixel[2]) << 16 | static_cast<std::uint32_t>(pixel[1]) << 8 | pixel[0];
}

// Waits on the capturer's news, as a resting streamer does, until a look reports a picture or
// timeout passes; says whether one came.
bool pictureWithin(ScreenCapturer& capturer, std::chrono::milliseconds timeout) {
    const auto news = capturer.news();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        if (!capturer.newsPending()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd watch{news->descriptor, POLLIN, 0};
            if (::poll(&watch, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0))) != 1) {
                return false;
            }
        }
        if (capturer.changes().picture) {
            return true;
        }
    }
    return false;
}

// The next picture that shows rgb at (x, y): some clients draw in more than one step.
std::shared_ptr<const PixelBuffer> pictureShowing(ScreenCapturer& capturer, std::uint32_t rgb, std::int32_t x,
                                                  std::int32_t y) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        if (!pictureWithin(capturer, std::chrono::seconds(10))) {
            return nullptr;
        }
        auto grabbed = capturer.grab();
        if (grabbed.frame && rgbAt(*grabbed.frame, x, y) == rgb) {
            return grabbed.frame;
        }
    }
    return nullptr;
}

class WlrootsCapturerTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!sway_.ok()) {
            GTEST_SKIP() << sway_.failure();
        }
        capturer_ = wayland::makeWlrootsCapturer();
        ASSERT_NE(capturer_, nullptr);
        ASSERT_TRUE(capturer_->news().has_value());
    }

    // A floating window of 300 x 200 at (100, 100) without border, for foot -a patch.
    PrivateSway sway_{{{1280, 720}},
                      {"default_floating_border none",
                       "for_window [app_id=\"^patch$\"] floating enable, resize set 300 200, move position 100 100"}};
    std::unique_ptr<ScreenCapturer> capturer_;
};

TEST_F(WlrootsCapturerTest, AStillScreenGivesOnePictureAndDrawingGivesPicturesOfWhatChanged) {
    const auto monitors = capturer_->monitors();
    ASSERT_EQ(monitors.size(), 1U);
    EXPECT_EQ(monitors[0].outputName, "HEADLESS-1");
    ASSERT_EQ(monitors[0].bounds, (Rect{0, 0, 1280, 720}));
    ASSERT_EQ(capturer_->watch(monitors[0].bounds, {1280, 720}), CaptureStatus::ok);

    auto grabbed = capturer_->grab();
    ASSERT_EQ(grabbed.status, CaptureStatus::ok) << grabbed.reason;
    ASSERT_EQ(grabbed.frame->width(), 1280);
    ASSERT_EQ(grabbed.frame->height(), 720);
    EXPECT_FALSE(grabbed.frame->change().has_value()) << "the first picture is whole";
    // swaybg may still be starting: its background comes as a change.
    if (rgbAt(*grabbed.frame, 640, 360) != 0x336699u) {
        ASSERT_NE(pictureShowing(*capturer_, 0x336699, 640, 360), nullptr);
    }
    // Pictures held keep their buffers from the compositor, as the encoder's do; these go.
    grabbed = {};
    EXPECT_FALSE(pictureWithin(*capturer_, std::chrono::milliseconds(300))) << "the screen is still";

    // A new background repaints the whole output.
    ASSERT_FALSE(sway_.message("'output * bg #ff8800 solid_color'").empty());
    auto painted = pictureShowing(*capturer_, 0xff8800, 640, 360);
    ASSERT_NE(painted, nullptr);
    EXPECT_EQ(rgbAt(*painted, 0, 0), 0xff8800u);
    EXPECT_EQ(rgbAt(*painted, 1279, 719), 0xff8800u);

    // A small window that prints a dot twice a second: once it is up, each picture says the rest
    // is as in the picture before.
    painted.reset();
    ASSERT_TRUE(
        sway_.launch("foot -a patch -o colors.background=00ff00 sh -c 'while :; do sleep 0.5; printf .; done'"));
    auto window = pictureShowing(*capturer_, 0x00ff00, 390, 290);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(rgbAt(*window, 99, 150), 0xff8800u);
    EXPECT_EQ(rgbAt(*window, 401, 150), 0xff8800u);
    window.reset();
    for (int dot = 0; dot < 3; ++dot) {
        ASSERT_TRUE(pictureWithin(*capturer_, std::chrono::seconds(5)));
        const auto printed = capturer_->grab();
        ASSERT_EQ(printed.status, CaptureStatus::ok) << printed.reason;
        ASSERT_TRUE(printed.frame->change().has_value());
        const auto& change = *printed.frame->change();
        EXPECT_GE(change.x, 100);
        EXPECT_GE(change.y, 100);
        EXPECT_LE(change.x + change.width, 400);
        EXPECT_LE(change.y + change.height, 300);
        EXPECT_EQ(rgbAt(*printed.frame, 390, 290), 0x00ff00u);
    }
}

TEST_F(WlrootsCapturerTest, AStreamSmallerThanTheOutputGetsScaledPictures) {
    const auto monitors = capturer_->monitors();
    ASSERT_EQ(monitors.size(), 1U);
    ASSERT_EQ(capturer_->watch(monitors[0].bounds, {640, 360}), CaptureStatus::ok);
    auto grabbed = capturer_->grab();
    ASSERT_EQ(grabbed.status, CaptureStatus::ok) << grabbed.reason;
    ASSERT_EQ(grabbed.frame->width(), 640);
    ASSERT_EQ(grabbed.frame->height(), 360);
    if (rgbAt(*grabbed.frame, 320, 180) != 0x336699u) {
        grabbed.frame = pictureShowing(*capturer_, 0x336699, 320, 180);  // swaybg was still starting
        ASSERT_NE(grabbed.frame, nullptr);
        EXPECT_EQ(grabbed.frame->width(), 640);
    }

    // Watching again gives a first picture at once, though nothing was drawn meanwhile.
    ASSERT_EQ(capturer_->watch(monitors[0].bounds, {1280, 720}), CaptureStatus::ok);
    const auto again = capturer_->grab();
    ASSERT_EQ(again.status, CaptureStatus::ok) << again.reason;
    EXPECT_EQ(again.frame->width(), 1280);
    EXPECT_NE(again.frame, grabbed.frame);
}

// A streamer looks once the descriptor says there is news. While a client draws every frame, each
// such look should find a new copy: were the next copy sent only at the look after a grab, every
// copy would take two looks, and a moving screen would lose every other frame.
TEST_F(WlrootsCapturerTest, EachCopyOfAMovingScreenTakesOneLook) {
    ASSERT_TRUE(sway_.launch("foot sh -c 'while :; do date; done'"));
    const auto monitors = capturer_->monitors();
    ASSERT_EQ(monitors.size(), 1U);
    ASSERT_EQ(capturer_->watch(monitors[0].bounds, {1280, 720}), CaptureStatus::ok);
    ASSERT_EQ(capturer_->grab().status, CaptureStatus::ok);
    const int descriptor = capturer_->news()->descriptor;
    int looks = 0;
    int pictures = 0;
    while (pictures < 20) {
        pollfd watch{descriptor, POLLIN, 0};
        ASSERT_EQ(::poll(&watch, 1, 5000), 1) << "no news after " << pictures << " pictures";
        ++looks;
        if (capturer_->changes().picture) {
            ASSERT_EQ(capturer_->grab().status, CaptureStatus::ok);
            ++pictures;
        }
    }
    EXPECT_LE(looks, 30) << "looks for 20 pictures";
}

TEST(WlrootsStreamerTest, UnpluggingTheCapturedOutputEndsTheStream) {
    // Headless outputs cannot be unplugged: the captured sway runs inside another one.
    PrivateSway host;
    PrivateSway sway(host, 2);
    if (!sway.ok()) {
        GTEST_SKIP() << sway.failure();
    }
    auto encoder = std::make_shared<VideoEncoder>();
    testing::StreamRecord record(*encoder);
    auto streamer = ScreenStreamer::create(encoder, [] { return wayland::makeWlrootsCapturer(); });
    testing::StreamEnd ended(*streamer);

    auto capturer = wayland::makeWlrootsCapturer();
    ASSERT_NE(capturer, nullptr);
    const auto monitors = capturer->monitors();
    ASSERT_EQ(monitors.size(), 2U);
    ASSERT_EQ(monitors[1].outputName, "WL-2");
    EXPECT_EQ(testing::startAndWait(*streamer, monitors[1].id), std::nullopt);
    EXPECT_EQ(streamer->capturedDisplay(), monitors[1].id);
    ASSERT_TRUE(waitUntil([&] { return record.shape().starts_with("CK"); })) << record.shape();

    ASSERT_TRUE(sway.unplug("WL-2"));
    EXPECT_EQ(ended.kind(), CaptureError::Kind::displayGone);
    testing::stopAndWait(*streamer);
}

}  // namespace
}  // namespace vantrel
