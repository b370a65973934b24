#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "CongestionController.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Decision = CongestionController::FrameDecision;

// A controller with a clock the test moves, greeted at t = 0 and already past its first key
// frame, so each test starts from the steady state of a live stream.
class CongestionControllerTest : public ::testing::Test {
protected:
    CongestionControllerTest() {
        controller.reset(now);
        EXPECT_TRUE(controller.offerFrame(true, 0, now).send);
    }

    Decision frame(bool key, std::int64_t pending) { return controller.offerFrame(key, pending, now); }

    std::chrono::nanoseconds now{0};
    CongestionController controller{now};
};

TEST_F(CongestionControllerTest, AfterGreetingOnlyAKeyFrameAtLowBacklogResumes) {
    controller.reset(now);
    EXPECT_TRUE(controller.keyframeRequestedByClient());  // nothing held back by a backlog yet
    EXPECT_EQ(frame(false, 0), (Decision{std::nullopt, 0, false}));
    EXPECT_EQ(frame(true, 3), (Decision{std::nullopt, 0, false}));  // key frame, backlog too high: held back
    EXPECT_EQ(frame(true, 2), (Decision{std::nullopt, 0, true}));
    EXPECT_FALSE(controller.droppingUntilKeyframe());
    EXPECT_EQ(frame(false, 2), (Decision{std::nullopt, 0, true}));
}

struct BacklogCase {
    std::int64_t backlog;
    bool congested;
    bool startsDropping;
};

class BacklogThresholdTest : public CongestionControllerTest, public ::testing::WithParamInterface<BacklogCase> {};

// 4 is fine and 5 marks the window; 8 still sends and 9 starts dropping with a key-frame request.
TEST_P(BacklogThresholdTest, MarksAndDropsAtTheThresholds) {
    const auto [backlog, congested, startsDropping] = GetParam();
    const auto decision = frame(false, backlog);
    EXPECT_EQ(controller.congestedInWindow(), congested);
    EXPECT_EQ(controller.droppingUntilKeyframe(), startsDropping);
    EXPECT_EQ(decision.send, !startsDropping);
    EXPECT_EQ(decision.keyframeRequests, startsDropping ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Thresholds, BacklogThresholdTest,
                         ::testing::Values(BacklogCase{4, false, false}, BacklogCase{5, true, false},
                                           BacklogCase{8, true, false}, BacklogCase{9, true, true}));

TEST_F(CongestionControllerTest, AKeyFrameThatStartsDroppingIsDiscardedWithOneRequest) {
    EXPECT_EQ(frame(true, 9), (Decision{std::nullopt, 1, false}));
}

// A stalled client must not turn every frame into a key frame: while the backlog holds frames
// back, discarded key frames and the client's own requests owe one request, made by the first
// frame that finds the backlog at 2 or below; a key frame then resumes the stream.
TEST_F(CongestionControllerTest, WhileHeldBackKeyFrameRequestsCoalesceIntoOneMadeOnceTheBacklogAllows) {
    frame(false, 9);
    for (const std::int64_t backlog : {9, 5, 3}) {
        EXPECT_EQ(frame(true, backlog), (Decision{std::nullopt, 0, false})) << backlog;
    }
    EXPECT_FALSE(controller.keyframeRequestedByClient());
    EXPECT_EQ(frame(false, 3), (Decision{std::nullopt, 0, false}));
    EXPECT_EQ(frame(false, 2), (Decision{std::nullopt, 1, false}));
    EXPECT_EQ(frame(false, 1), (Decision{std::nullopt, 0, false}));  // asked once only
    EXPECT_EQ(frame(true, 2), (Decision{std::nullopt, 0, true}));
    EXPECT_TRUE(controller.keyframeRequestedByClient());  // streaming: passed on at once

    // The client's request alone is owed the same way.
    frame(false, 9);
    EXPECT_FALSE(controller.keyframeRequestedByClient());
    EXPECT_EQ(frame(false, 0).keyframeRequests, 1);
}

// Starting at 8 Mbit/s: four congested windows reach the 1.5 Mbit/s floor, six clean ones the
// 14 Mbit/s cap, and windows beyond either end report nothing.
TEST_F(CongestionControllerTest, BitrateWalksToTheFloorAndTheCapWithIntegerSteps) {
    std::vector<std::int64_t> reported;
    auto closeWindow = [&](std::int64_t backlog) {
        frame(false, backlog);  // inside the window
        now += 1001ms;
        if (auto changed = frame(false, backlog).newBitrate) {
            reported.push_back(*changed);
        }
    };
    for (int window = 0; window < 5; ++window) {
        closeWindow(5);
    }
    EXPECT_EQ(reported, (std::vector<std::int64_t>{4'800'000, 2'880'000, 1'728'000, 1'500'000}));
    reported.clear();
    for (int window = 0; window < 30; ++window) {
        closeWindow(0);
    }
    ASSERT_FALSE(reported.empty());
    EXPECT_EQ(reported.front(), 1'650'000);
    EXPECT_EQ(reported.back(), 14'000'000);
    EXPECT_EQ(controller.bitrate(), 14'000'000);
    EXPECT_EQ(reported.size(), std::size_t{24});  // 1.5 M grows by 10 % per window until capped
}

TEST_F(CongestionControllerTest, SixCleanWindowsFromTheStartReachTheCap) {
    std::vector<std::int64_t> reported;
    for (int window = 0; window < 7; ++window) {
        now += 1001ms;
        if (auto changed = frame(false, 0).newBitrate) {
            reported.push_back(*changed);
        }
    }
    EXPECT_EQ(reported,
              (std::vector<std::int64_t>{8'800'000, 9'680'000, 10'648'000, 11'712'800, 12'884'080, 14'000'000}));
}

TEST_F(CongestionControllerTest, WindowClosesOnlyAfterMoreThanOneSecondAndTheClosingFrameCounts) {
    now += 1000ms;
    EXPECT_EQ(frame(false, 0).newBitrate, std::nullopt);  // exactly one second: still open
    now += 1ns;
    // The closing frame's backlog of 5 makes the window congested.
    EXPECT_EQ(frame(false, 5).newBitrate, std::optional<std::int64_t>(4'800'000));
    // A clean window after drops in earlier ones raises again.
    frame(false, 9);
    now += 2s;
    EXPECT_EQ(frame(false, 0).newBitrate, std::optional<std::int64_t>(2'880'000));  // 9 marked it
    now += 2s;
    EXPECT_EQ(frame(true, 0).newBitrate, std::optional<std::int64_t>(3'168'000));
}

TEST_F(CongestionControllerTest, AcknowledgementsBecomeTheMeasureAndNeverGoBelowZero) {
    EXPECT_EQ(controller.framesInFlight(), 1);
    for (int i = 0; i < 8; ++i) {
        frame(false, 0);
    }
    EXPECT_EQ(controller.framesInFlight(), 9);
    EXPECT_EQ(controller.backlog(0), 0);  // no acknowledgement yet: the host's sends count
    controller.frameAcknowledged();
    EXPECT_TRUE(controller.clientAcksFrames());
    EXPECT_EQ(controller.backlog(0), 8);             // from now on the client's count, whatever is pending
    EXPECT_EQ(frame(false, 0).keyframeRequests, 0);  // 8: not yet dropping (and now 9 in flight)
    EXPECT_EQ(frame(false, 0).keyframeRequests, 1);  // 9: dropping
    for (int i = 0; i < 20; ++i) {
        controller.frameAcknowledged();
    }
    EXPECT_EQ(controller.framesInFlight(), 0);
    EXPECT_EQ(controller.backlog(50), 0);
}

TEST_F(CongestionControllerTest, ResetRestoresTheGreetingState) {
    controller.frameAcknowledged();
    now += 2s;
    frame(false, 9);
    controller.reset(now);
    EXPECT_EQ(controller.bitrate(), CongestionController::initialBitrate);
    EXPECT_EQ(controller.framesInFlight(), 0);
    EXPECT_FALSE(controller.clientAcksFrames());
    EXPECT_FALSE(controller.congestedInWindow());
    EXPECT_TRUE(controller.droppingUntilKeyframe());
    now += 500ms;
    EXPECT_EQ(frame(true, 0).newBitrate, std::nullopt);  // the window restarted at the reset
}

}  // namespace
}  // namespace vantrel
