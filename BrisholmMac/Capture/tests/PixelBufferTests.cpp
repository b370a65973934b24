#include <gtest/gtest.h>

#include "PixelBuffer.hpp"

namespace vantrel {
namespace {

struct SizeCase {
    std::int32_t width;
    std::int32_t height;
    std::size_t stride;
    bool accepted;
};

class PixelBufferSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(PixelBufferSizeTest, AcceptsOnlyRealisticSizesAndStrides) {
    const auto& size = GetParam();
    int fills = 0;
    const auto buffer = PixelBuffer::make(
        size.width, size.height, [&](const PixelBuffer::Pixels&) { ++fills; }, size.stride);
    EXPECT_EQ(buffer != nullptr, size.accepted);
    EXPECT_EQ(fills, size.accepted ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, PixelBufferSizeTest,
                         ::testing::Values(SizeCase{1, 1, 0, true}, SizeCase{1920, 1080, 0, true},
                                           SizeCase{100, 10, 448, true}, SizeCase{100, 10, 399, false},
                                           SizeCase{0, 10, 0, false}, SizeCase{10, -1, 0, false},
                                           SizeCase{16385, 2, 0, false}, SizeCase{16384, 2, 0, true}));

TEST(PixelBufferTest, RowsAreStrideApartAndHoldWhatWasFilled) {
    const auto buffer = PixelBuffer::make(
        3, 2,
        [](const PixelBuffer::Pixels& pixels) {
            for (std::int32_t y = 0; y < pixels.height; ++y) {
                for (std::size_t byte = 0; byte < pixels.stride; ++byte) {
                    pixels.row(y)[byte] = static_cast<std::uint8_t>(y * 100 + byte);
                }
            }
        },
        16);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(buffer->stride(), 16u);
    ASSERT_EQ(buffer->row(1).size(), 12u);
    EXPECT_EQ(buffer->row(1)[0], 100);
    EXPECT_EQ(buffer->row(1)[11], 111);
    EXPECT_EQ(buffer->data()[16], 100);
}

TEST(PixelBufferTest, WithoutFillFunctionThePictureIsZero) {
    const auto buffer = PixelBuffer::make(4, 4, nullptr);
    ASSERT_NE(buffer, nullptr);
    for (std::int32_t y = 0; y < 4; ++y) {
        for (const auto byte : buffer->row(y)) {
            EXPECT_EQ(byte, 0);
        }
    }
}

}  // namespace
}  // namespace vantrel
