// The encoder's rules over a scripted compressor: when sessions are made and dropped, when key
// frames are forced, when the bitrate is applied, and what reaches the callbacks.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <deque>
#include <thread>

#include "PixelBuffer.hpp"
#include "VideoEncoder.hpp"

namespace vantrel {
namespace {

using ::testing::ElementsAre;

// Everything the fake saw, and what it is told to answer next. Shared between the test and the
// compressor, which the encoder owns.
struct Script {
    std::vector<CompressionSettings> sessionsMade;
    std::vector<std::int64_t> bitratesSet;
    std::vector<bool> forcedKeyframes;  // one entry per compress() call

    int sessionFailures = 0;                             // the next this many makeSession() calls fail
    std::deque<std::optional<CompressedFrame>> answers;  // compress() results; by default one below
};

// By default a forced picture comes back as a key frame with a format, any other as a delta
// frame, both with a one-unit payload.
CompressedFrame defaultAnswer(const CompressionSettings& settings, bool forceKeyframe) {
    CompressedFrame frame;
    frame.isKeyframe = forceKeyframe;
    frame.payload = Bytes{0, 0, 0, 1, static_cast<std::uint8_t>(forceKeyframe ? 0x65 : 0x41)};
    if (forceKeyframe) {
        frame.format = StreamFormat{settings.width, settings.height, {Bytes{0x67, 1}, Bytes{0x68, 2}}};
    }
    return frame;
}

class FakeSession final : public CompressionSession {
public:
    FakeSession(std::shared_ptr<Script> script, CompressionSettings settings)
        : script_(std::move(script)), settings_(settings) {}

    void setBitrate(std::int64_t bitsPerSecond) override { script_->bitratesSet.push_back(bitsPerSecond); }

    std::optional<CompressedFrame> compress(const PixelBuffer&, bool forceKeyframe) override {
        script_->forcedKeyframes.push_back(forceKeyframe);
        if (script_->answers.empty()) {
            return defaultAnswer(settings_, forceKeyframe);
        }
        auto answer = std::move(script_->answers.front());
        script_->answers.pop_front();
        return answer;
    }

private:
    std::shared_ptr<Script> script_;
    CompressionSettings settings_;
};

class FakeCompressor final : public Compressor {
public:
    explicit FakeCompressor(std::shared_ptr<Script> script) : script_(std::move(script)) {}

    std::unique_ptr<CompressionSession> makeSession(const CompressionSettings& settings) override {
        script_->sessionsMade.push_back(settings);
        if (script_->sessionFailures > 0) {
            --script_->sessionFailures;
            return nullptr;
        }
        return std::make_unique<FakeSession>(script_, settings);
    }

private:
    std::shared_ptr<Script> script_;
};

// What reached the callbacks, in order: "config WxH" or "key T" / "delta T".
class VideoEncoderTest : public ::testing::Test {
protected:
    VideoEncoderTest() : encoder_(std::make_unique<FakeCompressor>(script_)) {
        encoder_.onConfig = [this](VideoConfig config) {
            events_.push_back("config " + std::to_string(config.width) + "x" + std::to_string(config.height));
            configs_.push_back(std::move(config));
        };
        encoder_.onFrame = [this](VideoFrame frame) {
            events_.push_back((frame.isKeyframe ? "key " : "delta ") + std::to_string(frame.timestampMicros));
        };
    }

    void encode(std::int32_t width, std::int32_t height, std::uint64_t timestamp) {
        encoder_.encode(*PixelBuffer::make(width, height, nullptr), timestamp);
    }

    std::shared_ptr<Script> script_ = std::make_shared<Script>();
    VideoEncoder encoder_;
    std::vector<std::string> events_;
    std::vector<VideoConfig> configs_;
};

TEST_F(VideoEncoderTest, FirstFrameOfEachSessionIsAKeyFrameAfterItsConfiguration) {
    encode(1280, 720, 1);
    encode(1280, 720, 2);
    encode(1024, 768, 3);
    encode(1024, 768, 4);
    encoder_.invalidateSession();
    encode(1024, 768, 5);

    EXPECT_THAT(events_, ElementsAre("config 1280x720", "key 1", "delta 2", "config 1024x768", "key 3", "delta 4",
                                     "config 1024x768", "key 5"));
    ASSERT_EQ(script_->sessionsMade.size(), 3u);
    EXPECT_EQ(script_->sessionsMade[0].width, 1280);
    EXPECT_EQ(script_->sessionsMade[1].height, 768);
    EXPECT_EQ(script_->sessionsMade[0].framesPerSecond, 60);
    EXPECT_EQ(script_->sessionsMade[0].maxKeyframeInterval, 600);
    EXPECT_THAT(configs_[0].parameterSets, ElementsAre(Bytes{0x67, 1}, Bytes{0x68, 2}));
}

TEST_F(VideoEncoderTest, SessionThatCannotBeMadeDropsFramesAndIsRetriedEveryFrame) {
    script_->sessionFailures = 2;
    encode(640, 480, 1);
    encode(640, 480, 2);
    encode(640, 480, 3);

    EXPECT_EQ(script_->sessionsMade.size(), 3u);
    EXPECT_THAT(events_, ElementsAre("config 640x480", "key 3"));
}

TEST_F(VideoEncoderTest, RejectedFrameIsLostAndTheNextStartsANewSessionWithAKeyFrame) {
    encode(640, 480, 1);
    script_->answers.push_back(std::nullopt);
    encode(640, 480, 2);
    encode(640, 480, 3);
    encode(640, 480, 4);

    EXPECT_EQ(script_->sessionsMade.size(), 2u);
    EXPECT_THAT(script_->forcedKeyframes, ElementsAre(true, false, true, false));
    EXPECT_THAT(events_, ElementsAre("config 640x480", "key 1", "config 640x480", "key 3", "delta 4"));
}

TEST_F(VideoEncoderTest, KeyFrameRequestsBeforeOneFrameCoalesce) {
    encode(320, 240, 1);
    encoder_.requestKeyframe();
    encoder_.requestKeyframe();
    encode(320, 240, 2);
    encode(320, 240, 3);

    EXPECT_THAT(script_->forcedKeyframes, ElementsAre(true, true, false));
    EXPECT_THAT(events_, ElementsAre("config 320x240", "key 1", "config 320x240", "key 2", "delta 3"));
}

TEST_F(VideoEncoderTest, BitrateIsAppliedBetweenFramesOnlyWhenItChanged) {
    encoder_.setBitrate(5'000'000);
    encode(320, 240, 1);  // the session is made at the current bitrate
    encode(320, 240, 2);
    encoder_.setBitrate(3'000'000);
    encode(320, 240, 3);
    encoder_.setBitrate(3'000'000);
    encode(320, 240, 4);
    encoder_.setBitrate(4'000'000);
    encoder_.setBitrate(6'000'000);
    encode(320, 240, 5);
    encode(640, 480, 6);  // a new session starts at the wanted rate, nothing to apply

    ASSERT_EQ(script_->sessionsMade.size(), 2u);
    EXPECT_EQ(script_->sessionsMade[0].bitrate, 5'000'000);
    EXPECT_EQ(script_->sessionsMade[1].bitrate, 6'000'000);
    EXPECT_THAT(script_->bitratesSet, ElementsAre(3'000'000, 6'000'000));
    EXPECT_EQ(encoder_.bitrate(), 6'000'000);
}

TEST_F(VideoEncoderTest, BitrateBelowOneKilobitIsRaised) {
    EXPECT_EQ(encoder_.bitrate(), 8'000'000);
    for (const std::int64_t wanted : {std::int64_t{0}, std::int64_t{-5}, std::int64_t{999}}) {
        encoder_.setBitrate(wanted);
        EXPECT_EQ(encoder_.bitrate(), 1'000) << wanted;
    }
}

TEST_F(VideoEncoderTest, MaximumBitrateCapsTheCurrentRateAndEveryLaterRequest) {
    encoder_.setMaximumBitrate(6'000'000);
    EXPECT_EQ(encoder_.bitrate(), 6'000'000) << "the default 8 Mbit/s is above the cap";
    encode(320, 240, 1);
    encoder_.setBitrate(12'000'000);  // the congestion control climbing on a fast link
    encode(320, 240, 2);
    encoder_.setBitrate(2'000'000);  // and falling on a slow one
    encode(320, 240, 3);

    ASSERT_EQ(script_->sessionsMade.size(), 1u);
    EXPECT_EQ(script_->sessionsMade[0].bitrate, 6'000'000);
    EXPECT_THAT(script_->bitratesSet, ElementsAre(2'000'000)) << "a request above the cap changes nothing";
}

TEST_F(VideoEncoderTest, StampsPrecedeEachFrameWithTheCompressorsConversionTime) {
    std::vector<EncoderStamps> stamps;
    encoder_.onStamps = [this, &stamps](const EncoderStamps& stamp) {
        events_.push_back("stamps " + std::to_string(stamp.timestampMicros));
        stamps.push_back(stamp);
    };
    encode(64, 64, 1);  // the fake says nothing of a conversion
    CompressedFrame converted;
    converted.payload = Bytes{0, 0, 0, 1, 0x41};
    converted.converted = std::chrono::steady_clock::time_point(std::chrono::microseconds(5'000));
    script_->answers.push_back(converted);
    encode(64, 64, 2);
    script_->answers.push_back(CompressedFrame{});  // nothing came out: no frame, no stamps
    encode(64, 64, 3);

    EXPECT_THAT(events_, ElementsAre("config 64x64", "stamps 1", "key 1", "stamps 2", "delta 2"));
    ASSERT_EQ(stamps.size(), 2u);
    EXPECT_EQ(stamps[0].convertedMicros, stamps[0].encodedMicros);
    EXPECT_EQ(stamps[1].convertedMicros, 5'000u);
    EXPECT_GE(stamps[1].encodedMicros, stamps[0].encodedMicros);
}

struct EmitCase {
    const char* name;
    CompressedFrame answer;
    std::vector<std::string> expected;  // events after the session's first key frame
};

class VideoEncoderEmitTest : public VideoEncoderTest, public ::testing::WithParamInterface<EmitCase> {};

TEST_P(VideoEncoderEmitTest, ReportsWhatTheCompressorReturned) {
    encode(64, 64, 1);
    events_.clear();
    script_->answers.push_back(GetParam().answer);
    encode(64, 64, 77);
    EXPECT_EQ(events_, GetParam().expected);
}

CompressedFrame answer(bool isKeyframe, Bytes payload, bool withFormat) {
    CompressedFrame frame;
    frame.isKeyframe = isKeyframe;
    frame.payload = std::move(payload);
    if (withFormat) {
        frame.format = StreamFormat{64, 64, {Bytes{0x67}, Bytes{0x68}}};
    }
    return frame;
}

INSTANTIATE_TEST_SUITE_P(
    Outputs, VideoEncoderEmitTest,
    ::testing::Values(
        // A periodic key frame, chosen by the compressor, is announced like a forced one.
        EmitCase{"periodicKeyframe", answer(true, Bytes{0, 0, 0, 1, 0x65}, true), {"config 64x64", "key 77"}},
        EmitCase{"deltaFrame", answer(false, Bytes{0, 0, 0, 1, 0x41}, false), {"delta 77"}},
        // A delta frame never carries a configuration, even if the compressor offered one.
        EmitCase{"deltaWithFormat", answer(false, Bytes{0, 0, 0, 1, 0x41}, true), {"delta 77"}},
        EmitCase{"keyframeWithoutFormat", answer(true, Bytes{0, 0, 0, 1, 0x65}, false), {"key 77"}},
        EmitCase{"emptyDelta", answer(false, Bytes{}, false), {}},
        EmitCase{"emptyKeyframe", answer(true, Bytes{}, true), {"config 64x64"}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(VideoEncoderTest, TimestampsPassThroughUnchanged) {
    const std::vector<std::uint64_t> timestamps{0, 5, 3, 1'700'000'000'000'000, UINT64_MAX, 5};
    std::vector<std::uint64_t> seen;
    encoder_.onFrame = [&](VideoFrame frame) { seen.push_back(frame.timestampMicros); };
    for (const auto timestamp : timestamps) {
        encode(32, 32, timestamp);
    }
    EXPECT_EQ(seen, timestamps);
}

TEST_F(VideoEncoderTest, RequestsAndBitratesFromOtherThreadsWhileEncoding) {
    std::atomic<bool> done{false};
    std::thread server([&] {
        std::int64_t rate = 2'000'000;
        while (!done) {
            encoder_.requestKeyframe();
            encoder_.setBitrate(rate += 1000);
            (void)encoder_.bitrate();
        }
    });
    for (std::uint64_t frame = 0; frame < 500; ++frame) {
        encode(16, 16, frame);
    }
    done = true;
    server.join();
    encoder_.requestKeyframe();
    encode(16, 16, 500);
    EXPECT_TRUE(script_->forcedKeyframes.back());
    EXPECT_EQ(events_.size(), 2 * std::count(script_->forcedKeyframes.begin(), script_->forcedKeyframes.end(), true) +
                                  std::count(script_->forcedKeyframes.begin(), script_->forcedKeyframes.end(), false));
}

}  // namespace
}  // namespace vantrel
