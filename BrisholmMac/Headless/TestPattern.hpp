#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace vantrel {

class PixelBuffer;

// The moving picture the headless host streams instead of a captured display: a blue ramp from
// left to right and a green ramp from top to bottom over a constant red of 60, crossed by a
// full-height opaque white bar 40 pixels wide whose left edge sits at (tick x 8) mod width. Near
// the right edge the bar is cut off, not wrapped. Pixels are 32-bit BGRA (memory order blue,
// green, red, alpha), the layout the encoder takes.
//
// Phone-client developers compare decoded frames against these exact values, so the picture is
// part of the headless host's contract.
//
// Lives on the "vantrel.pattern" queue: it keeps the ramp row of the last width it drew, so
// that a frame costs one pass of plain row copies instead of a division per pixel.
class TestPattern {
public:
    static constexpr std::int64_t barWidth = 40;
    static constexpr std::int64_t barStep = 8;  // pixels per tick
    static constexpr std::uint8_t red = 60;

    // The frame of tick as a new pixel buffer, or null when no buffer of that size can be made
    // (the caller then skips the tick).
    [[nodiscard]] std::shared_ptr<const PixelBuffer> frame(std::int64_t width, std::int64_t height, std::int64_t tick);

    // Draws the frame of tick into BGRA memory of height rows, each bytesPerRow bytes apart
    // (at least width x 4). Width and height must be positive.
    void render(std::uint8_t* base, std::size_t bytesPerRow, std::int64_t width, std::int64_t height,
                std::int64_t tick);

    // The left edge of the bar in the frame of tick.
    [[nodiscard]] static std::int64_t barX(std::int64_t width, std::int64_t tick);

private:
    // One row of the picture without the bar and with green 0, as whole pixels.
    std::vector<std::uint32_t> rampRow_;
    std::int64_t rampWidth_ = 0;
};

}  // namespace vantrel
