#pragma once

#include <cstdint>
#include <memory>
#include <utility>
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

// A photo-like picture, BGRX rows of width x 4 bytes: soft colour fields, texture at several
// scales, blocks with sharp borders and rows of glyph-like marks, and fine grain; no flat area, so
// that moving it moves every pixel. The same on every run.
[[nodiscard]] std::vector<std::uint8_t> photoLikePixels(std::int32_t width, std::int32_t height);

// Full-screen motion as a camera films it, tick by tick: a photo-like picture panned along a curve
// whose speed and direction keep changing (2 to 6 pixels a tick), with fresh grain (the low two
// bits of every channel) on every tick. Every pixel changes every frame, the encoder must search
// for the motion and still finds a residual everywhere. bench_capture_load motion puts the same
// pictures on an X screen: both take the pan and the grain from here.
class MotionPicture {
public:
    // How far the pan reaches beyond the picture on every side.
    static constexpr std::int32_t margin = 64;

    MotionPicture(std::int32_t width, std::int32_t height);
    [[nodiscard]] std::shared_ptr<const PixelBuffer> picture(std::int64_t tick) const;

    // Where the view and the grain start in their pictures (width + 2 margin wide) at tick.
    [[nodiscard]] static std::pair<std::int32_t, std::int32_t> panAt(std::int64_t tick);
    [[nodiscard]] static std::pair<std::int32_t, std::int32_t> grainAt(std::int64_t tick);
    // The grain: BGRX with random low two bits in B, G and R, to be XORed over the view.
    [[nodiscard]] static std::vector<std::uint8_t> grainPixels(std::int32_t width, std::int32_t height);

private:
    std::int32_t width_;
    std::int32_t height_;
    std::vector<std::uint8_t> scene_;  // width + 2 margin by height + 2 margin
    std::vector<std::uint8_t> grain_;  // likewise
};

// A terminal scrolling a fast log, tick by tick: lines of dark glyphs (8x17 pixel cells) on white
// move up by three lines every tick and new ones come in at the bottom, as bench_capture_load's
// text in an xterm does. Every row changes every frame, by a move too far for a small motion search.
class ScrollingText {
public:
    static constexpr std::int32_t lineHeight = 17;
    static constexpr std::int32_t linesPerTick = 3;

    ScrollingText(std::int32_t width, std::int32_t height);
    [[nodiscard]] std::shared_ptr<const PixelBuffer> picture(std::int64_t tick) const;

private:
    std::int32_t width_;
    std::int32_t height_;
    std::vector<std::uint8_t> page_;  // width by pageLines x lineHeight, read cyclically
    std::int32_t pageHeight_;
};

// Uniform noise that no encoder can compress: its size follows the bitrate it is given.
[[nodiscard]] std::shared_ptr<const PixelBuffer> noisePicture(std::int32_t width, std::int32_t height,
                                                              std::uint32_t seed);

// Peak signal-to-noise ratio over the blue, green and red bytes of two pictures of one size, in dB;
// 100 for identical pictures, 0 for pictures of different sizes.
[[nodiscard]] double psnr(const PixelBuffer& a, const PixelBuffer& b);

}  // namespace vantrel::testing
