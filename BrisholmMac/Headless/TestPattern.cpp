#include "Headless/TestPattern.hpp"

#include <algorithm>
#include <cstring>
#include <limits>

#include "Capture/PixelBuffer.hpp"

namespace vantrel {

namespace {

// Pixels are assembled in memory order, so the picture does not depend on the machine's byte order.
std::uint32_t pixel(std::uint8_t blue, std::uint8_t green, std::uint8_t red, std::uint8_t alpha) {
    const std::uint8_t bytes[4] = {blue, green, red, alpha};
    std::uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

}  // namespace

std::int64_t TestPattern::barX(std::int64_t width, std::int64_t tick) {
    // (tick x 8) mod width, reduced first so that no tick can overflow the product, and never
    // negative, so that no tick can put the bar outside the frame.
    std::int64_t reduced = tick % width;
    if (reduced < 0) {
        reduced += width;
    }
    return (reduced * barStep) % width;
}

std::shared_ptr<const PixelBuffer> TestPattern::frame(std::int64_t width, std::int64_t height, std::int64_t tick) {
    if (width < 1 || height < 1 || width > std::numeric_limits<std::int32_t>::max() ||
        height > std::numeric_limits<std::int32_t>::max()) {
        return nullptr;
    }
    return PixelBuffer::make(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height),
                             [&](const PixelBuffer::Pixels& pixels) {
                                 render(pixels.bytes, pixels.stride, pixels.width, pixels.height, tick);
                             });
}

void TestPattern::render(std::uint8_t* base, std::size_t bytesPerRow, std::int64_t width, std::int64_t height,
                         std::int64_t tick) {
    if (width != rampWidth_) {
        rampRow_.resize(static_cast<std::size_t>(width));
        for (std::int64_t x = 0; x < width; ++x) {
            const auto blue = static_cast<std::uint8_t>(x * 255 / width);
            rampRow_[static_cast<std::size_t>(x)] = pixel(blue, 0, red, 255);
        }
        rampWidth_ = width;
    }

    const auto columns = static_cast<std::size_t>(width);
    const auto barStart = static_cast<std::size_t>(barX(width, tick));
    const auto barEnd = std::min(columns, barStart + static_cast<std::size_t>(barWidth));
    const std::uint32_t white = pixel(255, 255, 255, 255);

    for (std::int64_t y = 0; y < height; ++y) {
        std::uint8_t* out = base + static_cast<std::size_t>(y) * bytesPerRow;
        const std::uint32_t green = pixel(0, static_cast<std::uint8_t>(y * 255 / height), 0, 0);
        // Whole pixels through memcpy: no alignment is assumed of the buffer, and the compiler
        // still turns the loop into vector ORs and stores.
        for (std::size_t x = 0; x < columns; ++x) {
            const std::uint32_t value = rampRow_[x] | green;
            std::memcpy(out + x * sizeof value, &value, sizeof value);
        }
        for (std::size_t x = barStart; x < barEnd; ++x) {
            std::memcpy(out + x * sizeof white, &white, sizeof white);
        }
    }
}

}  // namespace vantrel
