#pragma once

#include <array>
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
// Lives on the headless host's capture queue ("vantrel.capture"). Consecutive frames differ only
// where the bar was and where it is now, so it keeps the memory of the frames it made and draws
// the next one over one of them that nobody holds any more, by repainting just the columns of
// that frame's bar and the new one; each frame says which columns differ from the one before
// (PixelBuffer::Change), so the encoder converts and analyses only those. It keeps two: the screen
// streamer holds the last frame (for key frames on request) while it asks for the next, which is
// then drawn over the frame before the last. A whole frame is drawn only for a new size or while
// both are still held.
class TestPattern {
public:
    static constexpr std::int64_t barWidth = 40;
    static constexpr std::int64_t barStep = 8;  // pixels per tick
    static constexpr std::uint8_t red = 60;

    // The frame of tick as a pixel buffer, or null when no buffer of that size can be made (the
    // caller then skips the tick). After a frame of the same size it carries the columns where it
    // differs from that one.
    [[nodiscard]] std::shared_ptr<const PixelBuffer> frame(std::int64_t width, std::int64_t height, std::int64_t tick);

    // Draws the frame of tick into BGRA memory of height rows, each bytesPerRow bytes apart
    // (at least width x 4). Width and height must be positive.
    void render(std::uint8_t* base, std::size_t bytesPerRow, std::int64_t width, std::int64_t height,
                std::int64_t tick);

    // The left edge of the bar in the frame of tick.
    [[nodiscard]] static std::int64_t barX(std::int64_t width, std::int64_t tick);

private:
    // The columns [begin, end) of every row, drawn as the picture without the bar, then the bar
    // of barStart clipped to them.
    void paintColumns(std::uint8_t* base, std::size_t bytesPerRow, std::int64_t width, std::int64_t height,
                      std::size_t begin, std::size_t end, std::size_t barStart);
    void prepareRamp(std::int64_t width);

    // One row of the picture without the bar and with green 0, as whole pixels.
    std::vector<std::uint32_t> rampRow_;
    std::int64_t rampWidth_ = 0;

    // The memory of a frame made (shared with every pixel buffer made over it), its size and
    // where its bar is. Memory only this holds may be drawn into again.
    struct Canvas {
        std::shared_ptr<std::uint8_t[]> memory;
        std::int64_t width = 0;
        std::int64_t height = 0;
        std::size_t bar = 0;
    };

    // The two last frames' canvases; last_ is the one of the last frame, lastSerial_ its serial.
    std::array<Canvas, 2> canvases_;
    std::size_t last_ = 0;
    std::uint64_t lastSerial_ = 0;
};

}  // namespace vantrel
