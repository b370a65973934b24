// The capturer's choices with plain values: which buffer to copy into, damage the compositor
// sends clipped to the buffer, and which output a watched area means.
#include <gtest/gtest.h>
#include <wayland-client-protocol.h>

#include <limits>

#include "Backends/wlroots/ScreencopyRules.hpp"

namespace vantrel::wayland {
namespace {

TEST(ScreencopyOfferTest, ThePicturesOwnByteOrderWinsThenSwappedThenNothing) {
    const ShmOffer xrgb{WL_SHM_FORMAT_XRGB8888, 1920, 1080, 7680};
    const ShmOffer xbgr{WL_SHM_FORMAT_XBGR8888, 1920, 1080, 7680};
    const ShmOffer rgb565{WL_SHM_FORMAT_RGB565, 1920, 1080, 3840};
    EXPECT_EQ(chooseOffer({xbgr, rgb565, xrgb}), xrgb);
    EXPECT_EQ(chooseOffer({rgb565, xbgr}), xbgr);
    EXPECT_EQ(chooseOffer({rgb565}), std::nullopt);
    EXPECT_EQ(chooseOffer({}), std::nullopt);
    EXPECT_EQ(byteOrder(WL_SHM_FORMAT_ARGB8888), ByteOrder::bgra);
    EXPECT_EQ(byteOrder(WL_SHM_FORMAT_ABGR8888), ByteOrder::rgba);

    // Offers no buffer could hold are passed over, not trusted.
    const ShmOffer shortRows{WL_SHM_FORMAT_XRGB8888, 1920, 1080, 1920};
    const ShmOffer empty{WL_SHM_FORMAT_XRGB8888, 0, 1080, 0};
    const ShmOffer huge{WL_SHM_FORMAT_ARGB8888, 100000, 10, 400000};
    EXPECT_EQ(chooseOffer({shortRows, empty, huge, xbgr}), xbgr);
}

TEST(ScreencopyDamageTest, RectanglesAreClippedToTheBufferWithoutWrapping) {
    EXPECT_EQ(clippedDamage(10, 20, 30, 40, 1920, 1080), (PixelBox{10, 20, 30, 40}));
    EXPECT_EQ(clippedDamage(1900, 1070, 100, 100, 1920, 1080), (PixelBox{1900, 1070, 20, 10}));
    EXPECT_TRUE(clippedDamage(1920, 0, 10, 10, 1920, 1080).isEmpty());
    EXPECT_TRUE(clippedDamage(0, 0, 0, 10, 1920, 1080).isEmpty());
    constexpr auto most = std::numeric_limits<std::uint32_t>::max();
    EXPECT_EQ(clippedDamage(5, 5, most, most, 1920, 1080), (PixelBox{5, 5, 1915, 1075}));
    EXPECT_TRUE(clippedDamage(most, most, 10, 10, 1920, 1080).isEmpty());
}

TEST(ScreencopyOutputTest, AnAreaMeansTheOutputPlacedThereElseTheOneCoveringMostOfIt) {
    const auto output = [](std::uint32_t id, Rect logical) {
        OutputFacts facts;
        facts.id = id;
        facts.logical = logical;
        return facts;
    };
    const std::vector<OutputFacts> outputs = {output(7, {0, 0, 1280, 720}), output(9, {1280, 0, 1024, 768})};
    EXPECT_EQ(outputShowing(outputs, {1280, 0, 1024, 768}), 9U);
    EXPECT_EQ(outputShowing(outputs, {0, 0, 1280, 720}), 7U);
    // Moved a little since the streamer last looked: still the output under most of it.
    EXPECT_EQ(outputShowing(outputs, {1000, 0, 1280, 720}), 9U);
    EXPECT_EQ(outputShowing(outputs, {-100, 0, 1280, 720}), 7U);
    EXPECT_EQ(outputShowing(outputs, {5000, 0, 100, 100}), std::nullopt);
    EXPECT_EQ(outputShowing({}, {0, 0, 1280, 720}), std::nullopt);
}

}  // namespace
}  // namespace vantrel::wayland
