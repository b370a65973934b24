#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "PixelBuffer.hpp"

namespace vantrel::testing {

// The headless host's moving test pattern at one tick: a blue ramp left to right and a green ramp
// top to bottom over red 60, crossed by a full-height white bar 40 pixels wide at
// x = (tick x 8) mod width. The background is computed once, so a benchmark can make a new picture
// per frame for the cost of a copy.
class TestPattern {
public:
    TestPattern(std::int32_t width, std::int32_t height);
    [[nodiscard]] std::shared_ptr<const PixelBuffer> picture(std::int64_t tick) const;

private:
    std::int32_t width_;
    std::int32_t height_;
    std::vector<std::uint8_t> background_;
};

// Desktop-like content: windows with title bars and lines of small high-contrast glyphs that stay
// put, and one small region (a status line being typed into) that changes on every tick. The
// kind of picture where a screen encoder spends its bits on sharp detail, not on motion.
class DesktopPicture {
public:
    DesktopPicture(std::int32_t width, std::int32_t height);
    [[nodiscard]] std::shared_ptr<const PixelBuffer> picture(std::int64_t tick) const;

private:
    std::int32_t width_;
    std::int32_t height_;
    std::vector<std::uint8_t> background_;
};

// Uniform noise that no encoder can compress: its size follows the bitrate it is given.
[[nodiscard]] std::shared_ptr<const PixelBuffer> noisePicture(std::int32_t width, std::int32_t height,
                                                              std::uint32_t seed);

// Peak signal-to-noise ratio over the blue, green and red bytes of two pictures of one size, in dB;
// 100 for identical pictures, 0 for pictures of different sizes.
[[nodiscard]] double psnr(const PixelBuffer& a, const PixelBuffer& b);

}  // namespace vantrel::testing
