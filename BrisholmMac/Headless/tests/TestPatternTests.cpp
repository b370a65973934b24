#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "Capture/PixelBuffer.hpp"
#include "Headless/TestPattern.hpp"

namespace vantrel {
namespace {

using Pixel = std::array<std::uint8_t, 4>;  // blue, green, red, alpha

Pixel at(const PixelBuffer& buffer, std::int32_t x, std::int32_t y) {
    const auto row = buffer.row(y);
    const auto offset = static_cast<std::size_t>(x) * 4;
    return {row[offset], row[offset + 1], row[offset + 2], row[offset + 3]};
}

constexpr Pixel white{255, 255, 255, 255};

TEST(TestPattern, FirstFrameOfTheDefaultDisplay) {
    TestPattern pattern;
    const auto frame = pattern.frame(1280, 720, 1);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->width(), 1280);
    ASSERT_EQ(frame->height(), 720);

    EXPECT_EQ(at(*frame, 0, 0), (Pixel{0, 0, 60, 255}));
    EXPECT_EQ(at(*frame, 7, 100), (Pixel{1, 35, 60, 255}));  // 7*255/1280 = 1, 100*255/720 = 35
    for (const std::int32_t x : {8, 30, 47}) {
        EXPECT_EQ(at(*frame, x, 0), white) << x;
        EXPECT_EQ(at(*frame, x, 719), white) << x;
    }
    EXPECT_EQ(at(*frame, 48, 0), (Pixel{9, 0, 60, 255}));  // 48*255/1280 = 9.56
    EXPECT_EQ(at(*frame, 1279, 719), (Pixel{254, 254, 60, 255}));
    EXPECT_EQ(at(*frame, 640, 360), (Pixel{127, 127, 60, 255}));
}

// Every pixel of a frame against the picture's definition, for sizes and ticks that put the bar
// at the left margin, in the middle, cut off at the right edge and back after a full crossing.
struct FrameCase {
    std::int64_t width;
    std::int64_t height;
    std::int64_t tick;
    std::int64_t barX;
};

class TestPatternFrames : public ::testing::TestWithParam<FrameCase> {};

TEST_P(TestPatternFrames, EveryPixelMatches) {
    const auto [width, height, tick, barX] = GetParam();
    EXPECT_EQ(TestPattern::barX(width, tick), barX);

    TestPattern pattern;
    // A previous frame of another width must not leave its ramp behind.
    ASSERT_NE(pattern.frame(width + 2, height, tick), nullptr);
    const auto frame = pattern.frame(width, height, tick);
    ASSERT_NE(frame, nullptr);
    std::size_t mismatches = 0;
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            const bool inBar = barX <= x && x < barX + 40;
            const Pixel expected = inBar ? white
                                         : Pixel{static_cast<std::uint8_t>(x * 255 / width),
                                                 static_cast<std::uint8_t>(y * 255 / height), 60, 255};
            if (at(*frame, x, y) != expected && ++mismatches < 5) {
                ADD_FAILURE() << "pixel " << x << "," << y;
            }
        }
    }
    EXPECT_EQ(mismatches, 0u);
}

INSTANTIATE_TEST_SUITE_P(Frames, TestPatternFrames,
                         ::testing::Values(FrameCase{1280, 720, 1, 8}, FrameCase{1280, 720, 0, 0},
                                           FrameCase{1280, 720, 159, 1272},  // cut after 8 columns
                                           FrameCase{1280, 720, 160, 0},     // back at the margin
                                           FrameCase{1280, 720, 161, 8}, FrameCase{1024, 768, 100, 800},
                                           FrameCase{1024, 768, 128, 0},
                                           FrameCase{30, 7, 1, 8},  // bar wider than what is left
                                           FrameCase{5, 3, 2, 1},   // bar wider than the frame
                                           FrameCase{1, 1, 7, 0}, FrameCase{1279, 3, 1000000007, 862}));

// A sequence of frames: each one drawn over an earlier one where that is free, each saying where
// it differs from the one before. Ticks step by one, skip, wrap at the right edge, repeat, and the
// size changes and changes back. The consumer either lets each frame go before asking for the next
// or, as the screen streamer does, holds the last one meanwhile.
class TestPatternSequence : public ::testing::TestWithParam<bool> {};

TEST_P(TestPatternSequence, FramesAreWholeAndSayWhereTheyDiffer) {
    const bool holdLast = GetParam();
    struct Step {
        std::int64_t width;
        std::int64_t height;
        std::int64_t tick;
    };
    const std::vector<Step> steps{{64, 6, 0}, {64, 6, 1},  {64, 6, 2}, {64, 6, 5}, {64, 6, 7}, {64, 6, 8}, {64, 6, 8},
                                  {64, 6, 9}, {64, 6, 16}, {48, 4, 3}, {64, 6, 4}, {64, 6, 6}, {64, 6, 7}, {64, 6, 9}};
    TestPattern pattern;
    std::shared_ptr<const PixelBuffer> held;
    std::vector<std::uint8_t> before;  // the frame before, copied: its memory may be drawn over next
    std::uint64_t serialBefore = 0;
    Step stepBefore{0, 0, 0};
    for (const auto& step : steps) {
        SCOPED_TRACE(::testing::Message() << step.width << "x" << step.height << " tick " << step.tick);
        const auto frame = pattern.frame(step.width, step.height, step.tick);
        ASSERT_NE(frame, nullptr);
        ASSERT_EQ(frame->stride(), static_cast<std::size_t>(step.width) * 4);
        const std::vector<std::uint8_t> bytes(frame->data(), frame->data() + frame->stride() * step.height);

        std::vector<std::uint8_t> whole(bytes.size());
        TestPattern().render(whole.data(), frame->stride(), step.width, step.height, step.tick);
        EXPECT_EQ(bytes, whole);

        const bool sameSize = step.width == stepBefore.width && step.height == stepBefore.height;
        ASSERT_EQ(frame->change().has_value(), sameSize);
        if (sameSize) {
            const auto& change = *frame->change();
            EXPECT_EQ(change.since, serialBefore);
            EXPECT_EQ(change.y, 0);
            EXPECT_EQ(change.height, step.height);
            for (std::int32_t y = 0; y < step.height; ++y) {
                for (std::int32_t x = 0; x < step.width; ++x) {
                    const auto offset = static_cast<std::size_t>(y) * frame->stride() + static_cast<std::size_t>(x) * 4;
                    const bool inBox = change.x <= x && x < change.x + change.width;
                    if (!inBox && std::memcmp(&bytes[offset], &before[offset], 4) != 0) {
                        ADD_FAILURE() << "pixel " << x << "," << y << " changed outside the box";
                    }
                }
            }
            // The box is no wider than the two bars it covers.
            EXPECT_LE(change.width, 2 * TestPattern::barWidth);
        }
        before = bytes;
        serialBefore = frame->serial();
        stepBefore = step;
        held = holdLast ? frame : nullptr;
    }
}

INSTANTIATE_TEST_SUITE_P(Consumers, TestPatternSequence, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "HoldingTheLast" : "LettingEachGo"; });

TEST(TestPattern, AFrameStillHeldIsNeverDrawnOver) {
    TestPattern pattern;
    const auto held = pattern.frame(64, 6, 1);
    ASSERT_NE(held, nullptr);
    const std::vector<std::uint8_t> heldBytes(held->data(), held->data() + held->stride() * 6);
    for (std::int64_t tick = 2; tick < 6; ++tick) {
        const auto next = pattern.frame(64, 6, tick);
        ASSERT_NE(next, nullptr);
        EXPECT_NE(next->data(), held->data());
        EXPECT_EQ(TestPattern::barX(64, tick), 8 * tick);
        EXPECT_EQ(next->row(0)[static_cast<std::size_t>(8 * tick) * 4], 255) << "no bar at tick " << tick;
    }
    EXPECT_TRUE(std::equal(heldBytes.begin(), heldBytes.end(), held->data()));
}

TEST(TestPattern, RendersIntoRowsWithPadding) {
    constexpr std::int64_t width = 50;
    constexpr std::int64_t height = 4;
    constexpr std::size_t stride = width * 4 + 12;
    std::vector<std::uint8_t> memory(stride * height, 0xAB);
    TestPattern pattern;
    pattern.render(memory.data(), stride, width, height, 3);  // bar from 24 to the edge
    for (std::size_t y = 0; y < height; ++y) {
        const std::uint8_t* row = memory.data() + y * stride;
        EXPECT_EQ(row[0], 0);
        EXPECT_EQ(row[2], 60);
        EXPECT_EQ(row[24 * 4], 255);
        EXPECT_EQ(row[49 * 4 + 1], 255);
        for (std::size_t pad = width * 4; pad < stride; ++pad) {
            EXPECT_EQ(row[pad], 0xAB) << "padding of row " << y << " written";
        }
    }
}

TEST(TestPattern, NegativeTicksKeepTheBarInsideTheFrame) {
    for (const std::int64_t tick : {-1LL, -160LL, -1000001LL}) {
        const auto x = TestPattern::barX(1280, tick);
        EXPECT_GE(x, 0);
        EXPECT_LT(x, 1280);
        EXPECT_EQ(x % 8, 0);
    }
}

TEST(TestPattern, UnusableSizesGiveNoFrame) {
    TestPattern pattern;
    EXPECT_EQ(pattern.frame(0, 720, 1), nullptr);
    EXPECT_EQ(pattern.frame(1280, -1, 1), nullptr);
    EXPECT_EQ(pattern.frame(std::int64_t{1} << 40, 720, 1), nullptr);
}

}  // namespace
}  // namespace vantrel
