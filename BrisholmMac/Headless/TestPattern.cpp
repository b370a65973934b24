#include "Headless/TestPattern.hpp"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <optional>

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
    if (width < 1 || height < 1 || width > PixelBuffer::maxDimension || height > PixelBuffer::maxDimension) {
        return nullptr;
    }
    const auto columns = static_cast<std::size_t>(width);
    const auto stride = columns * PixelBuffer::bytesPerPixel;
    const auto bar = static_cast<std::size_t>(barX(width, tick));
    const auto barEnd = [columns](std::size_t start) { return std::min(columns, start + barWidth); };

    std::optional<PixelBuffer::Change> change;
    const Canvas& previous = canvases_[last_];
    const auto hasSize = [&](const Canvas& canvas) {
        return canvas.memory && canvas.width == width && canvas.height == height;
    };
    if (hasSize(previous)) {
        // Only the columns under the last frame's bar and under this one's can differ; a bar that
        // stayed put changes nothing.
        const std::size_t first = std::min(previous.bar, bar);
        const std::size_t last = bar == previous.bar ? first : barEnd(std::max(previous.bar, bar));
        change = PixelBuffer::Change{lastSerial_, static_cast<std::int32_t>(first), 0,
                                     static_cast<std::int32_t>(last - first), static_cast<std::int32_t>(height)};
    }

    // Over the last frame when nobody holds it any more, else over the one before.
    std::size_t target = last_;
    if (!(hasSize(canvases_[target]) && canvases_[target].memory.use_count() == 1)) {
        target = 1 - last_;
    }
    Canvas& canvas = canvases_[target];
    if (hasSize(canvas) && canvas.memory.use_count() == 1) {
        // Every picture made over the canvas is gone, and with it every reader; the fence pairs
        // with the release of their last reference, so their reads come before these writes.
        std::atomic_thread_fence(std::memory_order_acquire);
        if (bar != canvas.bar) {
            paintColumns(canvas.memory.get(), stride, width, height, canvas.bar, barEnd(canvas.bar), bar);
            paintColumns(canvas.memory.get(), stride, width, height, bar, barEnd(bar), bar);
        }
    } else {
        // Not value-initialised: every pixel is drawn next.
        canvas.memory = std::make_shared_for_overwrite<std::uint8_t[]>(stride * static_cast<std::size_t>(height));
        render(canvas.memory.get(), stride, width, height, tick);
    }
    canvas.width = width;
    canvas.height = height;
    canvas.bar = bar;
    last_ = target;

    auto picture = PixelBuffer::adopt(static_cast<std::int32_t>(width), static_cast<std::int32_t>(height), stride,
                                      canvas.memory.get(), canvas.memory, change);
    lastSerial_ = picture ? picture->serial() : 0;
    return picture;
}

void TestPattern::prepareRamp(std::int64_t width) {
    if (width == rampWidth_) {
        return;
    }
    rampRow_.resize(static_cast<std::size_t>(width));
    for (std::int64_t x = 0; x < width; ++x) {
        const auto blue = static_cast<std::uint8_t>(x * 255 / width);
        rampRow_[static_cast<std::size_t>(x)] = pixel(blue, 0, red, 255);
    }
    rampWidth_ = width;
}

void TestPattern::render(std::uint8_t* base, std::size_t bytesPerRow, std::int64_t width, std::int64_t height,
                         std::int64_t tick) {
    paintColumns(base, bytesPerRow, width, height, 0, static_cast<std::size_t>(width),
                 static_cast<std::size_t>(barX(width, tick)));
}

void TestPattern::paintColumns(std::uint8_t* base, std::size_t bytesPerRow, std::int64_t width, std::int64_t height,
                               std::size_t begin, std::size_t end, std::size_t barStart) {
    prepareRamp(width);
    const auto columns = static_cast<std::size_t>(width);
    end = std::min(end, columns);
    const std::size_t whiteBegin = std::clamp(barStart, begin, end);
    const std::size_t whiteEnd =
        std::clamp(std::min(columns, barStart + static_cast<std::size_t>(barWidth)), begin, end);
    const std::uint32_t white = pixel(255, 255, 255, 255);

    for (std::int64_t y = 0; y < height; ++y) {
        std::uint8_t* out = base + static_cast<std::size_t>(y) * bytesPerRow;
        const std::uint32_t green = pixel(0, static_cast<std::uint8_t>(y * 255 / height), 0, 0);
        // Whole pixels through memcpy: no alignment is assumed of the buffer, and the compiler
        // still turns the loop into vector ORs and stores.
        for (std::size_t x = begin; x < end; ++x) {
            const std::uint32_t value = rampRow_[x] | green;
            std::memcpy(out + x * sizeof value, &value, sizeof value);
        }
        for (std::size_t x = whiteBegin; x < whiteEnd; ++x) {
            std::memcpy(out + x * sizeof white, &white, sizeof white);
        }
    }
}

}  // namespace vantrel
