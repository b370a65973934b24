// The encoder's rate control against the real time of the pictures, and the still-screen
// refinement, measured on decoded output: a screen that changes five times a second must get the
// bitrate the server asked for, and a still screen must end sharper than the motion left it.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "CaptureHarness.hpp"
#include "TestPictures.hpp"
#include "VideoEncoder.hpp"
#include "X264Compressor.hpp"

namespace vantrel {
namespace {

TEST(RateClockTest, CreditsRealTimeAtLeastAFrameAndPaysBackWhatCameEarly) {
    RateClock clock(60);
    ASSERT_EQ(clock.frameMicros(), 16'666);
    EXPECT_EQ(clock.credit(5'000'000), 16'666) << "the first picture has no predecessor";
    EXPECT_EQ(clock.credit(5'200'000), 200'000) << "five pictures a second: each stands for 200 ms";
    // Pacing jitter: 10 ms early is credited a whole frame, and the next picture pays it back.
    EXPECT_EQ(clock.credit(5'210'000), 16'666);
    EXPECT_EQ(clock.credit(5'233'332), 16'666);
    EXPECT_EQ(clock.credit(5'250'000), 16'668);
    // A long still spell is credited one second, and the unused rest does not carry over.
    EXPECT_EQ(clock.credit(65'250'000), 1'000'000);
    EXPECT_EQ(clock.credit(65'450'000), 200'000);
    // Time stamps that do not move (frame counters, a re-encode in the same microsecond) and
    // pictures without one get a frame each.
    EXPECT_EQ(clock.credit(65'450'000), 16'666);
    EXPECT_EQ(clock.credit(std::nullopt), 16'666);

    RateClock counter(30);
    for (std::uint64_t frame = 0; frame < 5; ++frame) {
        EXPECT_EQ(counter.credit(frame), 33'333);
    }
}

// 1280x720 of desktop content with a 480x270 area of fresh noise in every picture: busy enough
// that the rate control, not the content, sets the size at any of the rates below.
class BusyScreen {
public:
    BusyScreen() {
        for (std::uint32_t seed = 0; seed < 7; ++seed) {
            noise_.push_back(testing::noisePicture(480, 270, seed));
        }
    }

    [[nodiscard]] std::shared_ptr<const PixelBuffer> picture(std::int64_t tick) const {
        const auto base = desktop_.picture(tick);
        const auto& noise = *noise_[static_cast<std::size_t>(tick) % noise_.size()];
        return PixelBuffer::make(1280, 720, [&](const PixelBuffer::Pixels& pixels) {
            for (std::int32_t y = 0; y < 720; ++y) {
                std::memcpy(pixels.row(y), base->row(y).data(), 1280 * 4);
                if (y >= 100 && y < 370) {
                    std::memcpy(pixels.row(y) + 400 * 4, noise.row(y - 100).data(), 480 * 4);
                }
            }
        });
    }

private:
    testing::DesktopPicture desktop_{1280, 720};
    std::vector<std::shared_ptr<const PixelBuffer>> noise_;
};

double measuredBitrate(const BusyScreen& screen, std::int64_t framesPerSecond, std::int64_t seconds) {
    VideoEncoder encoder;
    encoder.setBitrate(4'000'000);
    std::size_t bytes = 0;
    std::int64_t frames = 0;
    encoder.onFrame = [&](VideoFrame frame) {
        // The first second settles the rate control after the key frame.
        if (frames++ >= framesPerSecond) {
            bytes += frame.payload.size();
        }
    };
    const std::uint64_t start = 7'000'000'000;
    for (std::int64_t tick = 0; tick < framesPerSecond * (seconds + 1); ++tick) {
        encoder.encode(*screen.picture(tick), start + static_cast<std::uint64_t>(tick * 1'000'000 / framesPerSecond));
    }
    return static_cast<double>(bytes) * 8 / static_cast<double>(seconds);
}

TEST(RateControlTest, TheStreamHitsTheRequestedBitrateAtAnyFrameRate) {
    const BusyScreen screen;
    for (const std::int64_t framesPerSecond : {60, 30, 5}) {
        const double bitrate = measuredBitrate(screen, framesPerSecond, 20);
        std::fprintf(stderr, "bitrate at %lld fps: %.2f Mbit/s for 4.00 requested (%+.1f%%)\n",
                     static_cast<long long>(framesPerSecond), bitrate / 1e6, (bitrate / 4e6 - 1) * 100);
        EXPECT_NEAR(bitrate, 4e6, 4e6 * 0.15) << framesPerSecond << " frames per second";
    }
}

// Desktop text scrolling by 6 rows a picture, then standing still.
std::shared_ptr<const PixelBuffer> scrolled(const PixelBuffer& page, std::int32_t offset) {
    return PixelBuffer::make(page.width(), page.height(), [&](const PixelBuffer::Pixels& pixels) {
        for (std::int32_t y = 0; y < page.height(); ++y) {
            const auto source = (y + offset) % page.height();
            std::memcpy(pixels.row(y), page.row(source).data(), page.row(source).size());
        }
    });
}

TEST(RateControlTest, RefinementPassesSharpenTheStillPictureTheMotionLeftBlurred) {
    VideoEncoder encoder;
    encoder.setBitrate(4'000'000);
    testing::StreamRecord record(encoder);
    const auto page = testing::DesktopPicture(1920, 1080).picture(0);
    std::shared_ptr<const PixelBuffer> last;
    std::uint64_t time = 1'000'000;
    for (std::int32_t tick = 0; tick < 60; ++tick, time += 16'667) {
        last = scrolled(*page, tick * 12);
        encoder.encode(*last, time);
    }
    // As the streamer does: a pass 250 ms into the still spell, then one every 100 ms while
    // another would still sharpen the picture.
    time += 250'000;
    int passes = 1;
    while (encoder.encodeRefinement(*last, time) && passes < 20) {
        time += 100'000;
        ++passes;
    }

    EXPECT_EQ(record.shape(), "CK" + std::string(59 + passes, 'P')) << "refinements are no key frames";
    const auto decoded = record.decoded();
    ASSERT_EQ(decoded.size(), static_cast<std::size_t>(60 + passes));
    ASSERT_NE(decoded[59], nullptr);
    ASSERT_NE(decoded.back(), nullptr);
    const auto frames = record.frames();
    std::size_t refinementBytes = 0;
    for (auto frame = frames.begin() + 60; frame != frames.end(); ++frame) {
        refinementBytes += frame->payload.size();
    }
    const double before = testing::psnr(*last, *decoded[59]);
    const double after = testing::psnr(*last, *decoded.back());
    std::fprintf(stderr, "still picture: %.1f dB after the motion, %.1f dB after %d refinement passes (%zu bytes)\n",
                 before, after, passes, refinementBytes);
    EXPECT_GT(after, before + 6);
    EXPECT_LT(passes, 20) << "the passes end once the picture is sharp";
}

}  // namespace
}  // namespace vantrel
