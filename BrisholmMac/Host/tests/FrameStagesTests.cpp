// Where a frame's time goes on the host: percentiles, matching the server's hand-over to the
// encoder's stamps, frames held back, and one summary per window, all with plain values.
#include "Host/FrameStages.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace vantrel {
namespace {

TEST(PercentilesTest, NearestRankOfTheSortedSeries) {
    EXPECT_EQ(percentilesOf({}), (Percentiles{0, 0, 0}));
    EXPECT_EQ(percentilesOf({7}), (Percentiles{7, 7, 7}));
    EXPECT_EQ(percentilesOf({4, 1, 3, 2}), (Percentiles{2, 4, 4}));
    std::vector<std::uint64_t> twenty;
    for (std::uint64_t value = 20; value >= 1; --value) {
        twenty.push_back(value * 10);
    }
    EXPECT_EQ(percentilesOf(twenty), (Percentiles{100, 190, 200}));
    std::vector<std::uint64_t> oneSlow(99, 5);
    oneSlow.push_back(900);
    EXPECT_EQ(percentilesOf(oneSlow), (Percentiles{5, 5, 900})) << "one frame in a hundred is no 95th percentile";
}

class FrameStagesTest : public ::testing::Test {
protected:
    FrameStagesTest() {
        stages.onSummary = [this](const StageSummary& summary) { summaries.push_back(summary); };
    }

    // A frame grabbed at `at`, converted 1 ms and encoded 5 ms later.
    void encode(std::uint64_t at) { stages.encoded(at, at + 1'000, at + 5'000); }

    FrameStages stages{1'000'000};
    std::vector<StageSummary> summaries;
};

TEST_F(FrameStagesTest, TheHandOverCompletesTheEncodersStamps) {
    encode(100);
    encode(16'767);
    EXPECT_EQ(stages.sent(100, 5'600), (FrameStamps{100, 1'100, 5'100, 5'600}));
    EXPECT_EQ(stages.sent(100, 5'700), std::nullopt) << "a frame is matched once";
    EXPECT_EQ(stages.sent(999, 5'800), std::nullopt) << "a frame the encoder did not report";
    EXPECT_EQ(stages.sent(16'767, 21'900), (FrameStamps{16'767, 17'767, 21'767, 21'900}));
    EXPECT_THAT(summaries, ::testing::IsEmpty()) << "the window is not over yet";
}

TEST_F(FrameStagesTest, OneSummaryPerWindowWithTheFramesHeldBack) {
    for (std::uint64_t frame = 0; frame < 60; ++frame) {
        encode(frame * 16'000);
        if (frame % 10 != 3) {  // the server holds back one frame in ten
            stages.sent(frame * 16'000, frame * 16'000 + 5'000 + frame * 10);
        }
    }
    ASSERT_TRUE(summaries.empty());
    encode(1'000'000);  // the first stamp a window after the first one closes it
    ASSERT_EQ(summaries.size(), 1u);
    const auto& summary = summaries[0];
    EXPECT_EQ(summary.windowMicros, 1'000'000u);
    EXPECT_EQ(summary.sent, 54u);
    EXPECT_EQ(summary.notSent, 6u);
    EXPECT_EQ(summary.convert, (Percentiles{1'000, 1'000, 1'000}));
    EXPECT_EQ(summary.encode, (Percentiles{4'000, 4'000, 4'000}));
    EXPECT_EQ(summary.send.max, 590u);
    EXPECT_EQ(summary.total.p50, 5'000u + 290u);
    EXPECT_THAT(summary.describe(),
                ::testing::StartsWith("stages: 54 frames sent (6 held back) in 1.00 s; convert p50 1.00 p95 1.00 "
                                      "max 1.00 ms; encode p50 4.00"));

    stages.sent(1'000'000, 2'005'000);  // closes the next window, with this frame counted in the new one
    ASSERT_EQ(summaries.size(), 2u);
    EXPECT_EQ(summaries[1].sent, 0u);
    EXPECT_EQ(summaries[1].notSent, 0u);
}

TEST_F(FrameStagesTest, FramesTheServerNeverSendsAreForgottenAfterALimit) {
    for (std::uint64_t frame = 0; frame < FrameStages::pendingLimit + 5; ++frame) {
        encode(frame * 100);
    }
    EXPECT_EQ(stages.sent(0, 90'000), std::nullopt) << "the oldest were forgotten";
    EXPECT_EQ(stages.sent(5 * 100, 90'000)->grabbed, 500u);
    stages.sent(1'100'000, 1'100'000);
    ASSERT_EQ(summaries.size(), 1u);
    EXPECT_EQ(summaries[0].notSent, 5u);
    EXPECT_EQ(summaries[0].sent, 1u);
}

}  // namespace
}  // namespace vantrel
