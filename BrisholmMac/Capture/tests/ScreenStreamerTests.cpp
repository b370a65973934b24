// The streamer's logic over fake capturers and the real encoder at a tiny size: which display it
// captures, when it produces frames, the kept last frame, and how streams start, stop and end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CaptureHarness.hpp"
#include "ScreenStreamer.hpp"
#include "vantrel/testing/Waiting.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using testing::fakeMonitor;
using testing::FakeScreen;
using testing::waitUntil;

class ScreenStreamerTest : public ::testing::Test {
protected:
    explicit ScreenStreamerTest(RefinementTiming timing = {1h, 1h, 1}) {
        screen_->monitors = {fakeMonitor(11, false, {0, 0, 64, 48}), fakeMonitor(12, true, {64, 0, 96, 64})};
        streamer_ = ScreenStreamer::create(encoder_, testing::fakeCapturers(screen_), timing);
        streamer_->onStopped = [this](std::optional<CaptureError> error) {
            std::lock_guard guard(lock_);
            stops_.push_back(error);
        };
    }

    // The streamer's queue may still be encoding into record_: end the stream before they go.
    ~ScreenStreamerTest() override { stop(); }

    std::optional<CaptureError> start(std::uint32_t display) { return testing::startAndWait(*streamer_, display); }
    void stop() { testing::stopAndWait(*streamer_); }

    // Waits until the capturer has been asked for changes n more times.
    bool waitLooks(int n) {
        const int target = screen_->looks + n;
        return waitUntil([&] { return screen_->looks >= target; });
    }

    std::vector<std::optional<CaptureError>> stops() {
        std::lock_guard guard(lock_);
        return stops_;
    }

    std::shared_ptr<FakeScreen> screen_ = std::make_shared<FakeScreen>();
    std::shared_ptr<VideoEncoder> encoder_ = std::make_shared<VideoEncoder>(Compressor::create(), 30);
    testing::StreamRecord record_{*encoder_};
    std::shared_ptr<ScreenStreamer> streamer_;
    std::mutex lock_;
    std::vector<std::optional<CaptureError>> stops_;
};

TEST_F(ScreenStreamerTest, CapturesTheAskedDisplayOrThePrimaryWhenTheIdIsUnknown) {
    EXPECT_EQ(start(11), std::nullopt);
    EXPECT_EQ(streamer_->capturedDisplay(), 11u);
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CK"; })) << record_.shape();
    const auto config = std::get<VideoConfig>(record_.outputs()[0]);
    EXPECT_EQ(config.width, 64);

    // A new start stops the running stream first; an unknown id takes the primary monitor.
    EXPECT_EQ(start(999), std::nullopt);
    EXPECT_EQ(streamer_->capturedDisplay(), 12u);
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CKCK"; })) << record_.shape();
    EXPECT_EQ(std::get<VideoConfig>(record_.outputs()[2]).width, 96);
    std::lock_guard guard(screen_->lock);
    ASSERT_EQ(screen_->watched.size(), 2u);
    EXPECT_EQ(screen_->watched[1], (std::pair<Rect, StreamSize>{{64, 0, 96, 64}, {96, 64}}));
}

TEST_F(ScreenStreamerTest, FailsWithAReasonWhenThereIsNothingToCapture) {
    screen_->update([](FakeScreen& s) { s.monitors.clear(); });
    EXPECT_EQ(start(11), (CaptureError{CaptureError::Kind::noDisplay, "Kein Display gefunden"}));
    screen_->update([](FakeScreen& s) { s.refuseCapturers = true; });
    const auto error = start(11);
    ASSERT_TRUE(error.has_value());
    EXPECT_EQ(error->kind, CaptureError::Kind::unavailable);
    EXPECT_FALSE(error->description.empty());
    EXPECT_EQ(streamer_->capturedDisplay(), std::nullopt);
    EXPECT_EQ(record_.frames().size(), 0u);
}

TEST_F(ScreenStreamerTest, AStillScreenMakesNoFramesYetAKeyFrameOnRequestFromTheLastOne) {
    // Asked before any frame exists, the request only marks the next frame.
    streamer_->sendKeyframeNow();
    ASSERT_EQ(start(11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CK"; })) << record_.shape();
    ASSERT_TRUE(waitLooks(10));
    EXPECT_EQ(record_.shape(), "CK");
    EXPECT_EQ(screen_->grabs.load(), 1);

    streamer_->sendKeyframeNow();
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CKCK"; })) << record_.shape();
    EXPECT_EQ(screen_->grabs.load(), 1) << "the key frame comes from the kept frame, not a new grab";
    const auto frames = record_.frames();
    EXPECT_GT(frames[1].timestampMicros, frames[0].timestampMicros) << "re-encodes carry the time they were made";
}

TEST_F(ScreenStreamerTest, AChangingScreenIsPacedToTheEncodersFrameRate) {
    screen_->update([](FakeScreen& s) { s.changing = true; });
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(start(11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record_.frames().size() >= 12; }));
    stop();
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    // 30 per second at most: one at once, then one per 33 ms.
    const auto allowed = 1 + elapsed / std::chrono::nanoseconds(33'333'333);
    EXPECT_LE(static_cast<std::int64_t>(record_.frames().size()), allowed);
    EXPECT_EQ(record_.shape().substr(0, 3), "CKP");
}

// What the headless host relies on for its picture at start-up: a start grabs and encodes its
// first picture in the same step, and stopAndWait returns only once the stream has ended, with
// nothing more grabbed. The stamps are the host clock, which a probe on the same machine reads to
// measure latency.
TEST_F(ScreenStreamerTest, StartEncodesAtOnceAndStopAndWaitReturnsOnceItEnded) {
    screen_->update([](FakeScreen& s) { s.changing = true; });
    const auto before = hostClockMicros(std::chrono::steady_clock::now());
    streamer_->start(11, {});
    streamer_->stopAndWait();
    const auto after = hostClockMicros(std::chrono::steady_clock::now());
    EXPECT_EQ(screen_->grabs.load(), 1);
    ASSERT_EQ(record_.shape(), "CK");
    EXPECT_GE(record_.frames()[0].timestampMicros, before);
    EXPECT_LE(record_.frames()[0].timestampMicros, after);
    EXPECT_EQ(streamer_->capturedDisplay(), std::nullopt);
}

// The headless host paces its pattern at 30 a second under an encoder planned for 60.
TEST_F(ScreenStreamerTest, AnIntervalGivenPacesInsteadOfTheEncodersFrameRate) {
    screen_->update([](FakeScreen& s) { s.changing = true; });
    const auto paced = ScreenStreamer::create(encoder_, testing::fakeCapturers(screen_), {1h, 1h, 1}, 100ms);
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(testing::startAndWait(*paced, 11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record_.frames().size() >= 4; }));
    testing::stopAndWait(*paced);
    const auto elapsed = std::chrono::steady_clock::now() - begin;
    EXPECT_LE(static_cast<std::int64_t>(record_.frames().size()), 1 + elapsed / 100ms);
}

// While the server holds frames back it drops every one until a key frame: the streamer keeps
// grabbing (the key frame must show the screen as it is) but encodes only the key frame.
TEST_F(ScreenStreamerTest, WhileTheServerHoldsFramesBackOnlyTheKeyFrameItResumesWithIsEncoded) {
    screen_->update([](FakeScreen& s) { s.changing = true; });
    streamer_->setCongested(true);
    ASSERT_EQ(start(11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return screen_->grabs.load() >= 4; }));
    EXPECT_EQ(record_.shape(), "CK") << "the stream's first key frame, and no frame the server would drop";

    streamer_->sendKeyframeNow();  // what the server asks for once the phone has caught up
    ASSERT_TRUE(waitUntil([&] { return record_.shape().starts_with("CKCK"); })) << record_.shape();
    const auto pictures = record_.decoded();
    ASSERT_GE(pictures.size(), 2u);
    ASSERT_NE(pictures[1], nullptr);
    EXPECT_GE(pictures[1]->row(0)[0], 4 * 16 - 4) << "the key frame shows a recent grab, not the first";

    streamer_->setCongested(false);
    ASSERT_TRUE(waitUntil([&] { return record_.frames().size() >= 5; })) << record_.shape();
}

// With a capturer that reports news (the X11 one's connection), a still screen is not looked at
// at all: after a look that saw nothing the streamer rests until news comes, and then looks at
// once.
TEST_F(ScreenStreamerTest, AStillScreenIsNotLookedAtUntilTheCapturerHasNews) {
    screen_->enableNews();
    ASSERT_EQ(start(11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CK" && screen_->rests.load() == 1; }))
        << record_.shape() << " after " << screen_->rests.load() << " rests";

    screen_->drawn();
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CKP" && screen_->rests.load() == 2; }))
        << record_.shape() << " after " << screen_->rests.load() << " rests";
    screen_->drawn();
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CKPP"; })) << record_.shape();
    EXPECT_EQ(screen_->looksWhileResting.load(), 0) << "no timer ticked while nothing changed";
    EXPECT_EQ(screen_->grabs.load(), 3);
}

TEST_F(ScreenStreamerTest, StopDropsTheStateSoTheNextStartBeginsWithAFreshKeyFrame) {
    ASSERT_EQ(start(11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CK"; }));
    stop();
    EXPECT_EQ(streamer_->capturedDisplay(), std::nullopt);
    // The last frame went with the stream: a request has nothing to re-encode.
    streamer_->sendKeyframeNow();
    stop();
    EXPECT_EQ(record_.shape(), "CK");

    ASSERT_EQ(start(11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CKCK"; })) << record_.shape();
    EXPECT_EQ(screen_->capturersMade, 2);
}

TEST_F(ScreenStreamerTest, ARemovedMonitorOrABrokenConnectionEndsTheStreamButKeepsTheLastFrame) {
    ASSERT_EQ(start(11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CK"; }));
    screen_->update([](FakeScreen& s) { s.monitors.erase(s.monitors.begin()); });
    ASSERT_TRUE(waitUntil([&] { return stops().size() == 1; }));
    EXPECT_EQ(stops()[0]->kind, CaptureError::Kind::displayGone);
    EXPECT_EQ(streamer_->capturedDisplay(), std::nullopt);

    // stop() after the stream ended on its own changes nothing: the last frame still serves.
    stop();
    streamer_->sendKeyframeNow();
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CKCK"; })) << record_.shape();

    ASSERT_EQ(start(12), std::nullopt);
    screen_->update([](FakeScreen& s) { s.broken = true; });
    ASSERT_TRUE(waitUntil([&] { return stops().size() == 2; }));
    EXPECT_EQ(stops()[1]->kind, CaptureError::Kind::lost);
}

TEST_F(ScreenStreamerTest, AMonitorThatChangesSizeIsCapturedAtItsNewStreamSize) {
    ASSERT_EQ(start(11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CK"; }));
    screen_->update([](FakeScreen& s) { s.monitors[0].bounds = {0, 0, 5120, 2880}; });
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CKCK"; })) << record_.shape();
    const auto config = std::get<VideoConfig>(record_.outputs()[2]);
    EXPECT_EQ(config.width, 2560);
    EXPECT_EQ(config.height, 1440);
    EXPECT_TRUE(stops().empty());
}

class ScreenStreamerRefinementTest : public ScreenStreamerTest {
protected:
    ScreenStreamerRefinementTest() : ScreenStreamerTest({40ms, 10ms, 3}) {}
};

TEST_F(ScreenStreamerRefinementTest, AStillPictureIsRefinedInAFewPassesUnlessTheServerHoldsFramesBack) {
    streamer_->setCongested(true);
    ASSERT_EQ(start(11), std::nullopt);
    ASSERT_TRUE(waitUntil([&] { return record_.shape() == "CK"; }));
    ASSERT_TRUE(waitLooks(6));  // well past the delay at 30 looks a second
    EXPECT_EQ(record_.shape(), "CK");

    streamer_->setCongested(false);
    ASSERT_TRUE(waitUntil([&] { return record_.frames().size() >= 2; })) << record_.shape();
    ASSERT_TRUE(waitLooks(10));
    const auto shape = record_.shape();
    EXPECT_TRUE(shape == "CKP" || shape == "CKPP" || shape == "CKPPP") << shape;
    EXPECT_EQ(screen_->grabs.load(), 1) << "passes re-encode the kept frame";
}

}  // namespace
}  // namespace vantrel
