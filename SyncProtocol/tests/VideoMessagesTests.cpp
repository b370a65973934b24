#include <gtest/gtest.h>

#include <random>

#include "ByteReader.hpp"
#include "vantrel/VideoMessages.hpp"

namespace vantrel {
namespace {

Bytes filled(std::size_t size, std::uint8_t value) {
    return Bytes(size, value);
}

Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) {
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

TEST(VideoConfigTest, WritesTheExactLayoutPeersRead) {
    EXPECT_EQ((VideoConfig{VideoCodec::h264, 1920, 1080, {}}.encoded()), (Bytes{0x01, 0x07, 0x80, 0x04, 0x38, 0x00}));

    const VideoConfig config{VideoCodec::h264, 1170, 2532, {filled(10, 0x67), filled(4, 0x68)}};
    const Bytes expected =
        concat({{0x01, 0x04, 0x92, 0x09, 0xE4, 0x02}, {0x00, 0x0A}, filled(10, 0x67), {0x00, 0x04}, filled(4, 0x68)});
    EXPECT_EQ(config.encoded(), expected);
    EXPECT_EQ(config.encoded().size(), 24U);
    EXPECT_EQ(VideoConfig::decode(expected), config);
}

TEST(VideoConfigTest, ClampsWidthAndHeightIntoSixteenBits) {
    struct Case {
        std::int64_t value;
        std::uint8_t high, low;
    };
    for (const Case& c : {Case{-5, 0x00, 0x00}, Case{70000, 0xFF, 0xFF}, Case{65535, 0xFF, 0xFF}, Case{0, 0x00, 0x00},
                          Case{INT64_MIN, 0x00, 0x00}, Case{INT64_MAX, 0xFF, 0xFF}, Case{258, 0x01, 0x02}}) {
        const Bytes body = VideoConfig{VideoCodec::h264, c.value, c.value, {}}.encoded();
        EXPECT_EQ(body, (Bytes{0x01, c.high, c.low, c.high, c.low, 0x00})) << c.value;
    }
}

TEST(VideoConfigTest, RejectsEveryShortfallAndForeignCodecs) {
    const struct {
        const char* what;
        Bytes body;
    } cases[] = {
        {"empty", {}},
        {"codec 2", {0x02, 0x07, 0x80, 0x04, 0x38, 0x00}},
        {"codec 0", {0x00, 0x07, 0x80, 0x04, 0x38, 0x00}},
        {"truncated width", {0x01, 0x07}},
        {"truncated height", {0x01, 0x07, 0x80, 0x04}},
        {"missing count", {0x01, 0x07, 0x80, 0x04, 0x38}},
        {"missing set length", {0x01, 0x07, 0x80, 0x04, 0x38, 0x01}},
        {"half a set length", {0x01, 0x07, 0x80, 0x04, 0x38, 0x01, 0x00}},
        {"short set", {0x01, 0x07, 0x80, 0x04, 0x38, 0x01, 0x00, 0x03, 0xAA, 0xBB}},
        {"second set missing", {0x01, 0x07, 0x80, 0x04, 0x38, 0x02, 0x00, 0x01, 0xAA}},
    };
    for (const auto& c : cases) {
        EXPECT_FALSE(VideoConfig::decode(c.body)) << c.what;
    }
}

TEST(VideoConfigTest, IgnoresBytesAfterTheAnnouncedSets) {
    const auto config = VideoConfig::decode(Bytes{0x01, 0x00, 0x10, 0x00, 0x20, 0x01, 0x00, 0x00, 0xDE, 0xAD});
    ASSERT_TRUE(config);
    EXPECT_EQ(config->width, 16);
    EXPECT_EQ(config->height, 32);
    EXPECT_EQ(config->parameterSets, std::vector<Bytes>{Bytes{}});
}

// The layout cannot hold more than 255 sets or a set above 65,535 bytes: whatever is written must
// still read back, so oversized sets are left out and the count stops at 255.
TEST(VideoConfigTest, UnrepresentableConfigurationsStillWriteReadableBodies) {
    VideoConfig config{VideoCodec::h264, 64, 64, {filled(3, 1), filled(65536, 2), filled(65535, 3)}};
    auto decoded = VideoConfig::decode(config.encoded());
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->parameterSets, (std::vector<Bytes>{filled(3, 1), filled(65535, 3)}));

    config.parameterSets.clear();
    for (int i = 0; i < 300; ++i) {
        config.parameterSets.push_back(Bytes{static_cast<std::uint8_t>(i)});
    }
    const Bytes body = config.encoded();
    EXPECT_EQ(body[5], 255);
    decoded = VideoConfig::decode(body);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->parameterSets.size(), 255U);
    EXPECT_EQ(decoded->parameterSets.back(), Bytes{254});
    EXPECT_EQ(body.size(), 6U + 255U * 3U);
}

TEST(VideoFrameTest, WritesFlagsTimestampThenPayload) {
    const VideoFrame frame{true, 1'000'000, {0xAA, 0xBB}};
    EXPECT_EQ(frame.encoded(), (Bytes{0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0F, 0x42, 0x40, 0xAA, 0xBB}));
    EXPECT_EQ((VideoFrame{false, UINT64_MAX, {}}.encoded()),
              (Bytes{0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(VideoFrameTest, ReadsOnlyBitZeroOfTheFlagsAndNeedsNineBytes) {
    const Bytes timestamp{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    const struct {
        std::uint8_t flags;
        bool keyframe;
    } cases[] = {{0x00, false}, {0x01, true}, {0x02, false}, {0x03, true}, {0xFE, false}, {0xFF, true}};
    for (const auto& c : cases) {
        const auto frame = VideoFrame::decode(concat({{c.flags}, timestamp}));
        ASSERT_TRUE(frame) << int{c.flags};
        EXPECT_EQ(frame->isKeyframe, c.keyframe) << int{c.flags};
        EXPECT_EQ(frame->timestampMicros, 0x0102030405060708U);
        EXPECT_TRUE(frame->payload.empty());
    }
    for (std::size_t size = 0; size < 9; ++size) {
        EXPECT_FALSE(VideoFrame::decode(Bytes(size, 0x01))) << size;
    }
}

TEST(VideoMessagesTest, RandomValuesRoundTrip) {
    std::mt19937_64 random(7);
    auto randomBytes = [&](std::size_t maxSize) {
        Bytes out(random() % (maxSize + 1));
        for (auto& byte : out) {
            byte = static_cast<std::uint8_t>(random());
        }
        return out;
    };
    for (int round = 0; round < 500; ++round) {
        VideoConfig config{VideoCodec::h264,
                           static_cast<std::int64_t>(random() % 65536),
                           static_cast<std::int64_t>(random() % 65536),
                           {}};
        for (std::size_t i = random() % 5; i > 0; --i) {
            config.parameterSets.push_back(randomBytes(300));
        }
        EXPECT_EQ(VideoConfig::decode(config.encoded()), config);

        const VideoFrame frame{random() % 2 == 0, random(), randomBytes(2000)};
        const auto decoded = VideoFrame::decode(frame.encoded());
        ASSERT_TRUE(decoded);
        EXPECT_EQ(decoded->isKeyframe, frame.isKeyframe);
        EXPECT_EQ(decoded->timestampMicros, frame.timestampMicros);
        EXPECT_EQ(decoded->payload, frame.payload);
    }
}

TEST(VideoCodecTest, OnlyByteOneIsACodec) {
    for (int byte = 0; byte <= 255; ++byte) {
        EXPECT_EQ(videoCodecFromByte(static_cast<std::uint8_t>(byte)).has_value(), byte == 1) << byte;
    }
}

TEST(ByteReaderTest, FailedReadsLeaveTheOffsetWhereItWas) {
    const Bytes data{0x12, 0x34, 0x56};
    ByteReader reader(data);
    EXPECT_FALSE(reader.u64());
    EXPECT_FALSE(reader.bytes(4));
    EXPECT_EQ(reader.offset(), 0U);
    EXPECT_EQ(reader.u16(), 0x1234);
    EXPECT_FALSE(reader.u16());
    EXPECT_EQ(reader.offset(), 2U);
    EXPECT_EQ(reader.bytes(0), Bytes{});
    EXPECT_EQ(reader.u8(), 0x56);
    EXPECT_FALSE(reader.u8());
    EXPECT_EQ(reader.rest(), Bytes{});
    EXPECT_EQ(reader.offset(), 3U);
}

}  // namespace
}  // namespace vantrel
