#include "FrameAssembly.hpp"

#include <libyuv/planar_functions.h>
#include <libyuv/scale_argb.h>
#include <algorithm>

namespace vantrel {

void drawCursor(const PixelBuffer::Pixels& pixels, const CursorImage& cursor, std::int32_t x, std::int32_t y) {
    if (cursor.width <= 0 || cursor.height <= 0 ||
        cursor.pixels.size() < static_cast<std::size_t>(cursor.width) * static_cast<std::size_t>(cursor.height)) {
        return;
    }
    const std::int32_t left = x - cursor.hotX;
    const std::int32_t top = y - cursor.hotY;
    const std::int32_t fromRow = std::max(0, -top);
    const std::int32_t toRow = std::min(cursor.height, pixels.height - top);
    const std::int32_t fromColumn = std::max(0, -left);
    const std::int32_t toColumn = std::min(cursor.width, pixels.width - left);
    for (std::int32_t row = fromRow; row < toRow; ++row) {
        std::uint8_t* target = pixels.row(top + row) + static_cast<std::ptrdiff_t>(left + fromColumn) * 4;
        const std::uint32_t* source = cursor.pixels.data() + static_cast<std::size_t>(row) * cursor.width;
        for (std::int32_t column = fromColumn; column < toColumn; ++column, target += 4) {
            const std::uint32_t argb = source[column];
            const std::uint32_t alpha = argb >> 24;
            if (alpha == 0) {
                continue;
            }
            // Premultiplied "over": result = cursor + screen x (1 - alpha), per channel.
            const std::uint32_t keep = 255 - alpha;
            for (int channel = 0; channel < 3; ++channel) {
                const std::uint32_t cursorValue = (argb >> (8 * channel)) & 0xff;
                const std::uint32_t blended = cursorValue + (target[channel] * keep + 127) / 255;
                target[channel] = static_cast<std::uint8_t>(std::min<std::uint32_t>(blended, 255));
            }
        }
    }
}

std::shared_ptr<const PixelBuffer> assembleFrame(const ScreenPixels& screen, StreamSize size, const CursorImage* cursor,
                                                 std::int32_t cursorX, std::int32_t cursorY) {
    if (screen.bytes == nullptr || screen.width < 1 || screen.height < 1 ||
        screen.stride < static_cast<std::size_t>(screen.width) * 4 || size.width < 1 || size.height < 1 ||
        size.width > PixelBuffer::maxDimension || size.height > PixelBuffer::maxDimension) {
        return nullptr;
    }
    const auto width = static_cast<std::int32_t>(size.width);
    const auto height = static_cast<std::int32_t>(size.height);
    bool converted = true;
    auto frame = PixelBuffer::make(width, height, [&](const PixelBuffer::Pixels& pixels) {
        const int sourceStride = static_cast<int>(screen.stride);
        const int targetStride = static_cast<int>(pixels.stride);
        if (width == screen.width && height == screen.height) {
            libyuv::ARGBCopy(screen.bytes, sourceStride, pixels.bytes, targetStride, width, height);
        } else {
            // Bilinear keeps small text legible when a large display is scaled down; box filtering
            // costs twice as much for no visible gain at these ratios.
            converted = libyuv::ARGBScale(screen.bytes, sourceStride, screen.width, screen.height, pixels.bytes,
                                          targetStride, width, height, libyuv::kFilterBilinear) == 0;
        }
        if (cursor != nullptr) {
            // The pointer lands where its position falls in the scaled picture; the image itself
            // keeps its size, so it stays as readable as on the screen.
            const auto scaledX = static_cast<std::int32_t>(static_cast<std::int64_t>(cursorX) * width / screen.width);
            const auto scaledY = static_cast<std::int32_t>(static_cast<std::int64_t>(cursorY) * height / screen.height);
            drawCursor(pixels, *cursor, scaledX, scaledY);
        }
    });
    return converted ? frame : nullptr;
}

}  // namespace vantrel
