// The streamer's pure rules: when a tick grabs, refines or rests, how ticks are paced, what goes
// to the encoder and what waits, and how a captured area becomes a frame with the pointer in it.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "CapturePolicy.hpp"
#include "DamageTracker.hpp"
#include "EncodeHandoff.hpp"
#include "FrameAssembly.hpp"

namespace vantrel {
namespace {

using namespace std::chrono_literals;
using Action = CapturePolicy::Action;

TEST(CapturePolicyTest, GrabsOnChangeRefinesAStillPictureInPassesAndOtherwiseRests) {
    const CapturePolicy::Clock::time_point t0{};
    CapturePolicy policy({250ms, 100ms, 3});
    // A new stream grabs its first picture even when nothing is reported changed.
    EXPECT_EQ(policy.onTick(t0, false, false), Action::grab);
    EXPECT_EQ(policy.onTick(t0, false, false), Action::grab) << "until a picture was encoded";
    policy.encoded(t0);
    EXPECT_EQ(policy.onTick(t0 + 17ms, false, false), Action::none);
    EXPECT_EQ(policy.onTick(t0 + 249ms, false, false), Action::none);
    EXPECT_EQ(policy.onTick(t0 + 250ms, false, true), Action::none) << "held while congested";
    EXPECT_EQ(policy.onTick(t0 + 400ms, false, false), Action::refine);
    policy.refined(t0 + 400ms, true);
    EXPECT_EQ(policy.onTick(t0 + 450ms, false, false), Action::none);
    EXPECT_EQ(policy.onTick(t0 + 500ms, false, false), Action::refine);
    policy.refined(t0 + 500ms, false);
    EXPECT_EQ(policy.onTick(t0 + 2s, false, false), Action::none) << "sharp: no more passes";
    EXPECT_EQ(policy.onTick(t0 + 2s, true, true), Action::grab) << "congestion never holds a change back";

    // A key frame re-encode is a new picture at the motion's quality: refinement starts over, and
    // stops after the most passes allowed even when the encoder would go on.
    policy.encoded(t0 + 3s);
    for (const auto pass : {250ms, 350ms, 450ms}) {
        EXPECT_EQ(policy.onTick(t0 + 3s + pass, false, false), Action::refine) << pass.count();
        policy.refined(t0 + 3s + pass, true);
    }
    EXPECT_EQ(policy.onTick(t0 + 5s, false, false), Action::none);

    policy.restart();
    EXPECT_EQ(policy.onTick(t0 + 4s, false, false), Action::grab);
}

// A pass is encoded on another queue: a picture encoded while it ran (a key frame the phone asked
// for, a grab kept back while congested) is what must be refined now, so the late pass changes
// nothing, not even when it says no further pass would help.
TEST(CapturePolicyTest, APassThatStartedBeforeTheLatestPictureSaysNothingAboutIt) {
    const CapturePolicy::Clock::time_point t0{};
    CapturePolicy policy({250ms, 100ms, 3});
    policy.encoded(t0);
    EXPECT_EQ(policy.onTick(t0 + 250ms, false, false), Action::refine);
    policy.encoded(t0 + 260ms);  // a key frame while the pass encodes
    policy.refined(t0 + 250ms, false);
    EXPECT_EQ(policy.onTick(t0 + 500ms, false, false), Action::none);
    EXPECT_EQ(policy.onTick(t0 + 510ms, false, false), Action::refine) << "the key frame is refined in turn";
}

TEST(CapturePolicyTest, ARestingStreamerLooksAgainOnlyForARefinementOrAfterItsLongestRest) {
    const CapturePolicy::Clock::time_point t0{};
    CapturePolicy policy({250ms, 100ms, 3});
    EXPECT_EQ(policy.restUntil(t0, false, 1s), std::nullopt) << "the first picture is owed";
    policy.encoded(t0);
    EXPECT_EQ(policy.restUntil(t0 + 17ms, true, 1s), std::nullopt) << "a change: the next interval looks again";
    EXPECT_EQ(policy.restUntil(t0 + 17ms, false, 1s), t0 + 250ms) << "still: until the first refinement";
    EXPECT_EQ(policy.restUntil(t0 + 17ms, false, 100ms), t0 + 117ms) << "or the capturer's longest rest";
    EXPECT_EQ(policy.restUntil(t0 + 300ms, false, 1s), std::nullopt)
        << "a refinement held back is asked for every tick";
    policy.refined(t0 + 300ms, false);
    EXPECT_EQ(policy.restUntil(t0 + 317ms, false, 1s), t0 + 1317ms) << "sharp: only news or the longest rest";
}

TEST(CapturePolicyTest, TicksKeepTheirCadenceAndDropWhatCameLate) {
    const CapturePolicy::Clock::time_point t0{};
    const auto interval = std::chrono::nanoseconds(16'666'667);
    EXPECT_EQ(CapturePolicy::nextTick(t0, t0 + 3ms, interval), t0 + interval);
    // A tick that ran late does not shift the schedule.
    EXPECT_EQ(CapturePolicy::nextTick(t0, t0 + 16ms, interval), t0 + interval);
    // Three intervals behind: one tick at once (the latest deadline passed), not three.
    EXPECT_EQ(CapturePolicy::nextTick(t0, t0 + 60ms, interval), t0 + 3 * interval);

    // On the headless host's 33 ms grid (served, now, next): on time, woke late, exactly due (at
    // once), two missed (one at once), and from there on the grid again.
    for (const auto& [served, now, next] : std::vector<std::array<int, 3>>{
             {0, 0, 33}, {0, 20, 33}, {33, 60, 66}, {0, 33, 33}, {0, 100, 99}, {0, 131, 99}, {99, 131, 132}}) {
        EXPECT_EQ(
            CapturePolicy::nextTick(t0 + std::chrono::milliseconds(served), t0 + std::chrono::milliseconds(now), 33ms),
            t0 + std::chrono::milliseconds(next))
            << served << " " << now;
    }
}

// The pictures and kinds of the jobs an encoder was handed, as "f1" (frame of picture 1), "k2",
// "r3"; "-" for none.
std::string named(const std::optional<EncodeJob>& job) {
    if (!job) {
        return "-";
    }
    const char kind = job->kind == EncodeJob::Kind::frame ? 'f' : job->kind == EncodeJob::Kind::keyframe ? 'k' : 'r';
    return kind + std::to_string(job->picture->width());
}

TEST(EncodeHandoffTest, OneEncodesOneWaitsAndTheNewestFrameWins) {
    // Pictures told apart by their width.
    const auto job = [](EncodeJob::Kind kind, std::int32_t picture) {
        return EncodeJob{kind, PixelBuffer::make(picture, 2, nullptr), {}};
    };
    using Kind = EncodeJob::Kind;
    EncodeHandoff handoff;
    EXPECT_EQ(named(handoff.offer(job(Kind::frame, 1))), "f1") << "an idle encoder starts at once";
    EXPECT_TRUE(handoff.busy());
    EXPECT_EQ(named(handoff.offer(job(Kind::refinement, 2))), "-") << "no refinement for a busy encoder";
    EXPECT_FALSE(handoff.hasWaiting());
    EXPECT_EQ(named(handoff.offer(job(Kind::keyframe, 3))), "-");
    EXPECT_EQ(named(handoff.offer(job(Kind::frame, 4))), "-") << "a grab takes the key frame's place";
    EXPECT_EQ(named(handoff.offer(job(Kind::frame, 5))), "-");
    EXPECT_EQ(named(handoff.offer(job(Kind::keyframe, 6))), "-") << "the waiting frame becomes the key frame";
    EXPECT_EQ(handoff.framesReplaced(), 1u);
    EXPECT_EQ(named(handoff.finished()), "f5");
    EXPECT_TRUE(handoff.busy());
    EXPECT_EQ(named(handoff.finished()), "-");
    EXPECT_FALSE(handoff.busy());

    // A stream that ends drops what waits; what runs still reports its end, and the next
    // stream's first frame waits for it.
    EXPECT_EQ(named(handoff.offer(job(Kind::frame, 7))), "f7");
    EXPECT_EQ(named(handoff.offer(job(Kind::keyframe, 8))), "-");
    handoff.clear();
    EXPECT_EQ(named(handoff.offer(job(Kind::frame, 9))), "-");
    EXPECT_EQ(named(handoff.finished()), "f9");
    EXPECT_EQ(named(handoff.finished()), "-");
    EXPECT_EQ(named(handoff.offer(job(Kind::refinement, 10))), "r10");
}

TEST(DamageTrackerTest, EachBufferFetchesWhatChangedSinceItsLastUseAndWhereThePointerMoved) {
    using Plan = DamageTracker::Plan;
    auto equal = [](const Plan& a, const Plan& b) { return a.fetch == b.fetch && a.drawPointer == b.drawPointer; };
    DamageTracker tracker(3);
    const PixelBox whole{0, 0, 1920, 1080};
    const PointerMark pointer{{100, 100, 24, 24}, 7};
    tracker.reset(whole);
    EXPECT_TRUE(equal(tracker.plan(0, pointer), {whole, true}));
    tracker.refreshed(0, pointer);
    EXPECT_TRUE(equal(tracker.plan(0, pointer), {{}, false})) << "nothing changed, the pointer is already in";
    EXPECT_EQ(tracker.plan(1, pointer).fetch, whole);

    // A bar moves: every buffer misses both places, as one box; what lies off the area is
    // nobody's business. The pointer stays put and nothing was drawn under it.
    tracker.damaged({500, 0, 40, 1080});
    tracker.damaged({1900, 1000, 100, 100});
    EXPECT_TRUE(equal(tracker.plan(0, pointer), {{500, 0, 1420, 1080}, false}));
    tracker.refreshed(0, pointer);

    // Drawn under the pointer: fetched with the whole pointer box and drawn again.
    tracker.damaged({110, 110, 2, 2});
    EXPECT_TRUE(equal(tracker.plan(0, pointer), {{100, 100, 24, 24}, true}));
    // Moved, or another image: the old place is cleaned and the new one drawn.
    const PointerMark moved{{300, 100, 24, 24}, 7};
    EXPECT_TRUE(equal(tracker.plan(0, moved), {{100, 100, 224, 24}, true}));
    EXPECT_TRUE(equal(tracker.plan(0, {pointer.box, 8}), {{100, 100, 24, 24}, true}));
    // Gone (or left to a scaled copy): the old place is cleaned, nothing drawn.
    EXPECT_TRUE(equal(tracker.plan(0, {}), {{100, 100, 24, 24}, false}));

    // Frames handed out follow the same rules: the whole area before the first.
    EXPECT_EQ(tracker.sinceLastFrame(pointer), whole);
    tracker.handedOut(pointer);
    EXPECT_TRUE(tracker.sinceLastFrame(pointer).isEmpty());
    EXPECT_EQ(tracker.sinceLastFrame(moved), (PixelBox{100, 100, 224, 24}));
}

// A w x h area of BGRX pixels, each (x, y, 0x80) in blue, green, red.
std::vector<std::uint8_t> area(std::int32_t width, std::int32_t height) {
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(width * height * 4));
    for (std::int32_t y = 0; y < height; ++y) {
        for (std::int32_t x = 0; x < width; ++x) {
            auto* pixel = &bytes[static_cast<std::size_t>((y * width + x) * 4)];
            pixel[0] = static_cast<std::uint8_t>(x);
            pixel[1] = static_cast<std::uint8_t>(y);
            pixel[2] = 0x80;
        }
    }
    return bytes;
}

std::uint32_t bgr(const PixelBuffer& frame, std::int32_t x, std::int32_t y) {
    const auto* pixel = frame.row(y).data() + x * 4;
    return static_cast<std::uint32_t>(pixel[0]) | static_cast<std::uint32_t>(pixel[1]) << 8 |
           static_cast<std::uint32_t>(pixel[2]) << 16;
}

TEST(FrameAssemblyTest, CopiesAnUnscaledAreaAndBlendsThePointerAtItsHotSpotClipped) {
    // A 3x2 pointer: opaque white, half-transparent black (premultiplied: 0x80000000), clear.
    const CursorImage cursor{3, 2, 1, 1, {0xffffffff, 0x80000000, 0x00ffffff, 0xffff0000, 0xff00ff00, 0xff0000ff}, 1};
    const auto pixels = area(8, 6);
    const auto frame = assembleFrame({pixels.data(), 8 * 4, 8, 6}, {8, 6}, &cursor, 7, 5);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(frame->width(), 8);
    EXPECT_EQ(bgr(*frame, 0, 0), 0x800000u);
    EXPECT_EQ(bgr(*frame, 5, 3), 0x800305u);
    // Hot spot (1, 1) at (7, 5): the cursor's top-left pixel lands on (6, 4).
    EXPECT_EQ(bgr(*frame, 6, 4), 0xffffffu);
    EXPECT_EQ(bgr(*frame, 7, 4), 0x400203u) << "half the screen's (7, 4, 0x80) shows through";
    EXPECT_EQ(bgr(*frame, 6, 5), 0xff0000u);
    EXPECT_EQ(bgr(*frame, 7, 5), 0x00ff00u);  // the rest of the cursor is off the picture

    EXPECT_EQ(pixels[(4 * 8 + 7) * 4], 7) << "the frame is a copy: the area itself is untouched";

    // Entirely outside: the picture is untouched.
    const auto untouched = assembleFrame({pixels.data(), 8 * 4, 8, 6}, {8, 6}, &cursor, -10, 40);
    ASSERT_NE(untouched, nullptr);
    for (std::int32_t y = 0; y < 6; ++y) {
        EXPECT_EQ(std::memcmp(untouched->row(y).data(), pixels.data() + y * 32, 32), 0);
    }
}

TEST(FrameAssemblyTest, ScalesALargerAreaDownAndPlacesThePointerInScaledPixels) {
    // A 40x20 area, its left half black and its right half white, scaled to 20x10.
    std::vector<std::uint8_t> pixels(40 * 20 * 4, 0);
    for (std::int32_t y = 0; y < 20; ++y) {
        std::memset(&pixels[static_cast<std::size_t>(y * 160 + 80)], 0xff, 80);
    }
    const CursorImage dot{1, 1, 0, 0, {0xff0000ff}, 1};
    const auto frame = assembleFrame({pixels.data(), 160, 40, 20}, {20, 10}, &dot, 10, 16);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width(), 20);
    EXPECT_EQ(frame->height(), 10);
    EXPECT_EQ(bgr(*frame, 2, 2), 0x000000u);
    EXPECT_EQ(bgr(*frame, 17, 2), 0xffffffu);
    EXPECT_EQ(bgr(*frame, 5, 8), 0x0000ffu) << "the pointer at (10, 16) of the area is at (5, 8) of the frame";

    EXPECT_EQ(assembleFrame({pixels.data(), 100, 40, 20}, {20, 10}, nullptr, 0, 0), nullptr) << "stride too short";
    EXPECT_EQ(assembleFrame({pixels.data(), 160, 40, 20}, {0, 10}, nullptr, 0, 0), nullptr);
}

}  // namespace
}  // namespace vantrel
