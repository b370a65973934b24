#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "Displays.hpp"
#include "PixelBuffer.hpp"

namespace vantrel {

// The pointer's picture: premultiplied ARGB words (alpha in the top byte), rows width apart, and
// the hot spot that sits at the pointer position.
struct CursorImage {
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::int32_t hotX = 0;
    std::int32_t hotY = 0;
    std::vector<std::uint32_t> pixels;
};

// A screen area as the display server hands it over: 32-bit BGRX pixels, rows stride bytes apart.
// owner, when set, keeps the memory alive and lends it out: the frame may then be made in place.
struct ScreenPixels {
    std::uint8_t* bytes = nullptr;
    std::size_t stride = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::shared_ptr<const void> owner;
};

// Blends cursor into pixels with its hot spot at (x, y) of the picture; the parts outside the
// picture are clipped.
void drawCursor(const PixelBuffer::Pixels& pixels, const CursorImage& cursor, std::int32_t x, std::int32_t y);

// A frame of size from a captured screen area, with the cursor drawn in at its hot spot's place
// (given in the area's own pixels). At the area's own size and with an owner, the cursor is drawn
// into the area's memory and the frame is that memory, kept by owner: no copy at all. Otherwise
// the area is copied, or scaled down with libyuv, into a new picture. Null when the area or size
// is not a valid picture.
[[nodiscard]] std::shared_ptr<const PixelBuffer> assembleFrame(const ScreenPixels& screen, StreamSize size,
                                                               const CursorImage* cursor, std::int32_t cursorX,
                                                               std::int32_t cursorY);

}  // namespace vantrel
