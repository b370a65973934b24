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
    // Tells images apart: the display server's number for this pointer image.
    std::uint64_t serial = 0;
};

// A screen area as the display server hands it over: 32-bit BGRX pixels, rows stride bytes apart.
struct ScreenPixels {
    const std::uint8_t* bytes = nullptr;
    std::size_t stride = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};

// Blends cursor into pixels with its hot spot at (x, y) of the picture; the parts outside the
// picture are clipped.
void drawCursor(const PixelBuffer::Pixels& pixels, const CursorImage& cursor, std::int32_t x, std::int32_t y);

// A frame of size from a captured screen area: copied (or scaled down with libyuv when the sizes
// differ), then the cursor drawn in at its hot spot's place, given in the area's own pixels. Null
// when the area or size is not a valid picture.
[[nodiscard]] std::shared_ptr<const PixelBuffer> assembleFrame(const ScreenPixels& screen, StreamSize size,
                                                               const CursorImage* cursor, std::int32_t cursorX,
                                                               std::int32_t cursorY);

}  // namespace vantrel
