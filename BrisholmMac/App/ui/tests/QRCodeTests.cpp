#include <gtest/gtest.h>

#include "QRCode.hpp"
#include "UiTesting.hpp"
#include "vantrel/PairingInfo.hpp"

namespace vantrel {
namespace {

std::string pairingLink() {
    return PairingInfo{"Prüfstand", 47823, {"192.168.1.20", "10.0.0.7"}, Bytes(PairingInfo::keyLength, 0xA5)}.url();
}

TEST(QRCodeTest, ModuleScaleIsTheLargestWholeFitButNeverBelowOne) {
    EXPECT_EQ(QRCode::moduleScale(25, 240), 9);
    EXPECT_EQ(QRCode::moduleScale(24, 240), 10);
    EXPECT_EQ(QRCode::moduleScale(121, 240), 1);
    // Wider than the space: one pixel per module, not fewer modules.
    EXPECT_EQ(QRCode::moduleScale(241, 240), 1);
    EXPECT_EQ(QRCode::moduleScale(0, 240), 1);
    EXPECT_EQ(QRCode::moduleScale(25, 0), 1);
    EXPECT_EQ(QRCode::moduleScale(25, -3), 1);
    EXPECT_EQ(QRCode::moduleScale(25, std::nan("")), 1);
}

TEST(QRCodeTest, LargeCodesKeepEveryModuleAndOversizedTextHasNone) {
    const auto large = QRCode::image(std::string(1000, 'x'), 100);
    ASSERT_TRUE(large);
    EXPECT_GT(large->width(), 100);
    EXPECT_FALSE(QRCode::image(std::string(4000, 'x'), 240));
    EXPECT_FALSE(QRCode::framed(std::string(4000, 'x')));
}

TEST(QRCodeTest, FramedCodeIsSharpPaddedAndScansToExactlyTheLink) {
    const auto link = pairingLink();
    const auto framed = QRCode::framed(link);
    ASSERT_TRUE(framed);
    EXPECT_EQ(framed->size(), QSize(256, 256));
    // Only black and white (no smoothing), and white all round the code.
    for (int y = 0; y < framed->height(); ++y) {
        for (int x = 0; x < framed->width(); ++x) {
            const int grey = qGray(framed->pixel(x, y));
            ASSERT_TRUE(grey == 255 || (grey == 0 && QRect(8, 8, 240, 240).contains(x, y))) << x << "," << y;
        }
    }
    // The finder pattern's corner sits right inside the padding.
    EXPECT_EQ(qGray(framed->pixel(8, 8)), 0);
    EXPECT_EQ(testing::scanQRCode(*framed), link);
}

}  // namespace
}  // namespace vantrel
