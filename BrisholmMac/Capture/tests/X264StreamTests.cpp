// The real compressor end to end: libx264's output, decoded by libavcodec the way a phone
// decodes it, must carry the right pictures, sizes, key frames and rates.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <numeric>
#include <variant>

#include "StreamDecoder.hpp"
#include "TestPictures.hpp"
#include "VideoEncoder.hpp"
#include "X264Compressor.hpp"

namespace vantrel {
namespace {

using testing::StreamDecoder;
using testing::TestPattern;

using Output = std::variant<VideoConfig, VideoFrame>;

// Collects the encoder's output in order and checks, as it arrives, what every message must
// satisfy: payloads are length-prefixed slices only, configurations hold an SPS then a PPS.
struct Recorder {
    explicit Recorder(VideoEncoder& encoder) {
        encoder.onConfig = [this](VideoConfig config) { outputs.emplace_back(std::move(config)); };
        encoder.onFrame = [this](VideoFrame frame) { outputs.emplace_back(std::move(frame)); };
    }

    [[nodiscard]] std::vector<VideoFrame> frames() const {
        std::vector<VideoFrame> result;
        for (const auto& output : outputs) {
            if (const auto* frame = std::get_if<VideoFrame>(&output)) {
                result.push_back(*frame);
            }
        }
        return result;
    }

    std::vector<Output> outputs;
};

// The message kinds in order: "C" for a configuration, "K" for a key frame, "P" for another.
std::string shape(const std::vector<Output>& outputs) {
    std::string result;
    for (const auto& output : outputs) {
        if (std::holds_alternative<VideoConfig>(output)) {
            result += 'C';
        } else {
            result += std::get<VideoFrame>(output).isKeyframe ? 'K' : 'P';
        }
    }
    return result;
}

void expectWellFormed(const VideoFrame& frame) {
    const auto units = testing::splitLengthPrefixed(frame.payload);
    ASSERT_TRUE(units.has_value()) << "payload is not a sequence of 4-byte length-prefixed NAL units";
    ASSERT_FALSE(units->empty());
    for (const auto unit : *units) {
        // IDR slices in key frames, non-IDR slices otherwise; never parameter sets or start codes.
        EXPECT_EQ(testing::nalType(unit), frame.isKeyframe ? 5 : 1);
        EXPECT_NE(unit[0] & 0x80, 0x80) << "forbidden bit set";
    }
    EXPECT_FALSE(frame.payload.size() >= 4 && frame.payload[0] == 0 && frame.payload[1] == 0 &&
                 (frame.payload[2] == 1 || (frame.payload[2] == 0 && frame.payload[3] == 1)))
        << "payload starts with a start code";
}

void expectWellFormed(const VideoConfig& config, std::int32_t width, std::int32_t height) {
    EXPECT_EQ(config.codec, VideoCodec::h264);
    EXPECT_EQ(config.width, width);
    EXPECT_EQ(config.height, height);
    ASSERT_EQ(config.parameterSets.size(), 2u);
    EXPECT_EQ(testing::nalType(config.parameterSets[0]), 7);
    EXPECT_EQ(testing::nalType(config.parameterSets[1]), 8);
}

// Decodes a recording as a phone would: every configuration restarts the decoder; returns the
// decoded pictures, one per frame, null where decoding failed.
std::vector<std::shared_ptr<const PixelBuffer>> decodeAll(const std::vector<Output>& outputs) {
    StreamDecoder decoder;
    std::vector<std::shared_ptr<const PixelBuffer>> pictures;
    for (const auto& output : outputs) {
        if (const auto* config = std::get_if<VideoConfig>(&output)) {
            EXPECT_TRUE(decoder.configure(*config));
        } else {
            pictures.push_back(decoder.decode(std::get<VideoFrame>(output)));
        }
    }
    return pictures;
}

struct StreamCase {
    std::int32_t width;
    std::int32_t height;
};

class X264StreamTest : public ::testing::TestWithParam<StreamCase> {};

TEST_P(X264StreamTest, DecodesToTheInputPictures) {
    const auto [width, height] = GetParam();
    VideoEncoder encoder;
    Recorder recorder(encoder);
    const TestPattern pattern(width, height);
    std::vector<std::shared_ptr<const PixelBuffer>> inputs;
    for (std::int64_t tick = 0; tick < 12; ++tick) {
        inputs.push_back(pattern.picture(tick));
        encoder.encode(*inputs.back(), static_cast<std::uint64_t>(1000 + tick * 16'667));
    }

    ASSERT_EQ(shape(recorder.outputs), "CKPPPPPPPPPPP");
    expectWellFormed(std::get<VideoConfig>(recorder.outputs[0]), width, height);
    const auto frames = recorder.frames();
    for (const auto& frame : frames) {
        expectWellFormed(frame);
    }
    const auto decoded = decodeAll(recorder.outputs);
    ASSERT_EQ(decoded.size(), inputs.size());
    for (std::size_t index = 0; index < decoded.size(); ++index) {
        ASSERT_NE(decoded[index], nullptr) << "frame " << index;
        // The size in the sequence parameter set is the size of the input.
        EXPECT_EQ(decoded[index]->width(), width);
        EXPECT_EQ(decoded[index]->height(), height);
        // At 8 Mbit/s the pattern comes through nearly unchanged; a swapped colour order or a
        // misplaced row would fall far below this.
        EXPECT_GE(testing::psnr(*inputs[index], *decoded[index]), 35.0) << "frame " << index;
    }
}

// Sizes of real displays, one that is not a multiple of 16 in either direction (cropping in the
// SPS), and the smallest the stream-size rule allows.
INSTANTIATE_TEST_SUITE_P(Sizes, X264StreamTest,
                         ::testing::Values(StreamCase{1280, 720}, StreamCase{1366, 768}, StreamCase{1002, 598},
                                           StreamCase{2, 2}),
                         [](const auto& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

TEST(X264EncoderTest, SizeChangeStartsANewDecodableStream) {
    VideoEncoder encoder;
    Recorder recorder(encoder);
    const TestPattern first(1280, 720);
    const TestPattern second(1024, 768);
    for (std::int64_t tick = 0; tick < 3; ++tick) {
        encoder.encode(*first.picture(tick), static_cast<std::uint64_t>(tick));
    }
    for (std::int64_t tick = 3; tick < 6; ++tick) {
        encoder.encode(*second.picture(tick), static_cast<std::uint64_t>(tick));
    }

    ASSERT_EQ(shape(recorder.outputs), "CKPPCKPP");
    expectWellFormed(std::get<VideoConfig>(recorder.outputs[0]), 1280, 720);
    expectWellFormed(std::get<VideoConfig>(recorder.outputs[4]), 1024, 768);
    const auto decoded = decodeAll(recorder.outputs);
    ASSERT_EQ(decoded.size(), 6u);
    for (std::size_t index = 0; index < decoded.size(); ++index) {
        ASSERT_NE(decoded[index], nullptr) << "frame " << index;
        EXPECT_EQ(decoded[index]->width(), index < 3 ? 1280 : 1024);
    }
}

TEST(X264EncoderTest, KeyFrameRequestsCoalesceIntoOneIdrWithItsConfiguration) {
    VideoEncoder encoder;
    Recorder recorder(encoder);
    const TestPattern pattern(640, 360);
    encoder.encode(*pattern.picture(0), 0);
    encoder.encode(*pattern.picture(1), 1);
    encoder.requestKeyframe();
    encoder.requestKeyframe();
    for (std::int64_t tick = 2; tick < 5; ++tick) {
        encoder.encode(*pattern.picture(tick), static_cast<std::uint64_t>(tick));
    }

    ASSERT_EQ(shape(recorder.outputs), "CKPCKPP");
    // A phone that joins at the forced key frame decodes from there on.
    const std::vector<Output> joined(recorder.outputs.begin() + 3, recorder.outputs.end());
    for (const auto& picture : decodeAll(joined)) {
        EXPECT_NE(picture, nullptr);
    }
}

TEST(X264EncoderTest, PeriodicKeyFramesComeWithTheirConfigurationAtLeastEveryTenSeconds) {
    // At 2 frames per second ten seconds are 20 frames.
    VideoEncoder encoder(Compressor::create(), 2);
    Recorder recorder(encoder);
    const TestPattern pattern(320, 240);
    for (std::int64_t tick = 0; tick < 45; ++tick) {
        encoder.encode(*pattern.picture(tick), static_cast<std::uint64_t>(tick));
    }
    std::vector<std::size_t> keyframes;
    const auto frames = recorder.frames();
    for (std::size_t index = 0; index < frames.size(); ++index) {
        if (frames[index].isKeyframe) {
            keyframes.push_back(index);
        }
    }
    ASSERT_GE(keyframes.size(), 3u);
    for (std::size_t index = 1; index < keyframes.size(); ++index) {
        EXPECT_LE(keyframes[index] - keyframes[index - 1], 20u);
    }
    const auto outputs = shape(recorder.outputs);
    EXPECT_EQ(std::count(outputs.begin(), outputs.end(), 'C'), std::count(outputs.begin(), outputs.end(), 'K'));
    EXPECT_EQ(outputs.find("PK"), std::string::npos) << "a key frame without its configuration: " << outputs;
}

TEST(X264EncoderTest, StreamSizeFollowsABitrateChangeFromTheNextFrame) {
    // Noise cannot be compressed, so every frame spends what the rate control allows.
    VideoEncoder encoder;
    Recorder recorder(encoder);
    encoder.setBitrate(2'000'000);
    std::vector<std::shared_ptr<const PixelBuffer>> pictures;
    for (std::uint32_t seed = 0; seed < 4; ++seed) {
        pictures.push_back(testing::noisePicture(640, 360, seed));
    }
    for (std::uint64_t frame = 0; frame < 60; ++frame) {
        if (frame == 30) {
            encoder.setBitrate(14'000'000);
        }
        encoder.encode(*pictures[frame % pictures.size()], frame);
    }
    const auto frames = recorder.frames();
    ASSERT_EQ(frames.size(), 60u);
    auto averageBytes = [&](std::size_t from, std::size_t to) {
        std::size_t total = 0;
        for (std::size_t index = from; index < to; ++index) {
            total += frames[index].payload.size();
        }
        return static_cast<double>(total) / static_cast<double>(to - from);
    };
    // The first key frame is left out; then 2 Mbit/s at 60 frames/s is about 4,200 bytes a frame,
    // 14 Mbit/s about 29,000.
    const double slow = averageBytes(5, 30);
    const double fast = averageBytes(35, 60);
    EXPECT_LT(slow, 4'200 * 1.5);
    EXPECT_GT(fast, 29'000 * 0.6);
    // The change takes effect with the next frame; x264 moves its quantiser over a few frames
    // rather than at once, so within five frames the stream has left the old rate far behind.
    EXPECT_GT(averageBytes(30, 35), slow * 2);
}

// Fails the one picture it is told to, otherwise passes everything to libx264.
class FailingOnceCompressor final : public Compressor {
public:
    explicit FailingOnceCompressor(int failAt) : failAt_(std::make_shared<int>(failAt)) {}

    std::unique_ptr<CompressionSession> makeSession(const CompressionSettings& settings) override {
        auto session = real_.makeSession(settings);
        return session ? std::make_unique<Session>(std::move(session), failAt_) : nullptr;
    }

private:
    class Session final : public CompressionSession {
    public:
        Session(std::unique_ptr<CompressionSession> real, std::shared_ptr<int> failAt)
            : real_(std::move(real)), failAt_(std::move(failAt)) {}
        void setBitrate(std::int64_t bitsPerSecond) override { real_->setBitrate(bitsPerSecond); }
        std::optional<CompressedFrame> compress(const PixelBuffer& picture, bool forceKeyframe) override {
            if ((*failAt_)-- == 0) {
                return std::nullopt;
            }
            return real_->compress(picture, forceKeyframe);
        }

    private:
        std::unique_ptr<CompressionSession> real_;
        std::shared_ptr<int> failAt_;
    };

    X264Compressor real_;
    std::shared_ptr<int> failAt_;
};

TEST(X264EncoderTest, AfterARejectedFrameTheStreamRestartsWithAKeyFrame) {
    VideoEncoder encoder(std::make_unique<FailingOnceCompressor>(3));
    Recorder recorder(encoder);
    const TestPattern pattern(640, 360);
    for (std::int64_t tick = 0; tick < 6; ++tick) {
        encoder.encode(*pattern.picture(tick), static_cast<std::uint64_t>(tick));
    }
    // Frame 3 is lost; frame 4 opens a fresh stream a phone can decode from its start.
    ASSERT_EQ(shape(recorder.outputs), "CKPPCKP");
    const auto frames = recorder.frames();
    EXPECT_EQ(frames[3].timestampMicros, 4u);
    const std::vector<Output> restarted(recorder.outputs.begin() + 4, recorder.outputs.end());
    for (const auto& picture : decodeAll(restarted)) {
        EXPECT_NE(picture, nullptr);
    }
}

// The same picture as a frame that says where it differs from an earlier one.
std::shared_ptr<const PixelBuffer> withChange(const std::shared_ptr<const PixelBuffer>& picture,
                                              PixelBuffer::Change change) {
    return PixelBuffer::adopt(picture->width(), picture->height(), picture->stride(), picture->data(), picture, change);
}

std::uint8_t blueAt(const PixelBuffer& picture, std::int32_t x, std::int32_t y) {
    return picture.row(y)[static_cast<std::size_t>(x) * 4];
}

TEST(X264EncoderTest, APictureThatSaysWhereItChangedIsConvertedThereOnlyWhenItsPredecessorWasTheLast) {
    VideoEncoder encoder;
    Recorder recorder(encoder);
    const TestPattern pattern(320, 240);
    const auto first = pattern.picture(0);  // the bar over x 0..40
    encoder.encode(*first, 1);
    // The bar moved to 8..48; the box is odd on purpose: chroma needs it widened to even edges.
    encoder.encode(*withChange(pattern.picture(1), {first->serial(), 1, 0, 46, 240}), 2);
    // A box relative to a picture that was not the last one encoded is ignored: the whole picture
    // is converted, so x 8..16, where the bar was in the last picture, shows the background.
    const auto third = pattern.picture(2);
    encoder.encode(*withChange(third, {first->serial(), 16, 0, 40, 240}), 3);

    const auto decoded = decodeAll(recorder.outputs);
    ASSERT_EQ(decoded.size(), 3u);
    EXPECT_GE(testing::psnr(*pattern.picture(1), *decoded[1]), 35.0);
    EXPECT_GE(testing::psnr(*third, *decoded[2]), 35.0);
    EXPECT_NEAR(blueAt(*decoded[2], 12, 120), blueAt(*third, 12, 120), 16);
}

TEST(X264EncoderTest, RejectsSizesTheStreamCannotCarry) {
    X264Compressor compressor;
    for (const auto& [width, height] : {std::pair{641, 360}, std::pair{640, 361}, std::pair{0, 0}}) {
        CompressionSettings settings;
        settings.width = width;
        settings.height = height;
        EXPECT_EQ(compressor.makeSession(settings), nullptr) << width << "x" << height;
    }
    CompressionSettings settings;
    settings.width = 64;
    settings.height = 64;
    auto session = compressor.makeSession(settings);
    ASSERT_NE(session, nullptr);
    EXPECT_FALSE(session->compress(*testing::TestPattern(32, 64).picture(0), false).has_value());
}

}  // namespace
}  // namespace vantrel
