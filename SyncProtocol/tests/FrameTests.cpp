#include <gtest/gtest.h>

#include "vantrel/Frame.hpp"

namespace vantrel {
namespace {

std::array<std::uint8_t, frameHeaderLength> header(std::uint32_t length, std::uint8_t type) {
    return {static_cast<std::uint8_t>(length >> 24), static_cast<std::uint8_t>(length >> 16),
            static_cast<std::uint8_t>(length >> 8), static_cast<std::uint8_t>(length), type};
}

TEST(MessageTypeTest, OnlyBytesOneToThirteenAreKinds) {
    for (int byte = 0; byte <= 255; ++byte) {
        const auto type = messageTypeFromByte(static_cast<std::uint8_t>(byte));
        EXPECT_EQ(type.has_value(), byte >= 1 && byte <= 13) << byte;
        if (type) {
            EXPECT_EQ(rawValue(*type), byte);
        }
    }
    EXPECT_EQ(messageTypeFromByte(13), MessageType::openApp);
    EXPECT_EQ(messageTypeFromByte(1), MessageType::hello);
}

TEST(FrameWriterTest, WritesBigEndianLengthThenTypeThenBody) {
    EXPECT_EQ(makeFrame(MessageType::requestKeyframe, {}), (Bytes{0x00, 0x00, 0x00, 0x00, 0x06}));

    const Bytes body(300, 0xAB);
    const Bytes frame = makeFrame(MessageType::videoFrame, body);
    ASSERT_EQ(frame.size(), 305U);
    EXPECT_EQ(Bytes(frame.begin(), frame.begin() + 5), (Bytes{0x00, 0x00, 0x01, 0x2C, 0x04}));
    EXPECT_EQ(Bytes(frame.begin() + 5, frame.end()), body);
}

TEST(FrameHeaderRulesTest, LengthIsCheckedAgainstTheLimitBeforeTheType) {
    EXPECT_TRUE(readFrameHeader(header(65536, 5), hostMaxInboundLength));
    EXPECT_FALSE(readFrameHeader(header(65537, 5), hostMaxInboundLength));
    EXPECT_FALSE(readFrameHeader(header(0xFFFFFFFF, 5), hostMaxInboundLength));
    EXPECT_FALSE(readFrameHeader(header(10, 0), hostMaxInboundLength));
    EXPECT_FALSE(readFrameHeader(header(10, 14), hostMaxInboundLength));

    const auto accepted = readFrameHeader(header(0x01020304, 13), 0x7FFFFFFF);
    ASSERT_TRUE(accepted);
    EXPECT_EQ(accepted->length, 0x01020304U);
    EXPECT_EQ(accepted->type, MessageType::openApp);
}

}  // namespace
}  // namespace vantrel
