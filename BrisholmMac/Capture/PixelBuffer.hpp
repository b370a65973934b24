#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>

namespace vantrel {

// One captured or generated picture: width x height pixels of 32-bit BGRA (blue, green, red,
// alpha in memory), rows `stride` bytes apart. It is filled once, by the function given to make(),
// and immutable from then on, so the capture path, the encoder and the streamer's "last frame"
// share one buffer across threads without copying it or locking it.
class PixelBuffer {
public:
    static constexpr std::int32_t bytesPerPixel = 4;
    // Larger than any display we stream (the longer side is capped at 2560) and small enough that
    // stride x height never overflows.
    static constexpr std::int32_t maxDimension = 16384;

    // The writable view handed to the fill function; valid only during that call.
    struct Pixels {
        std::uint8_t* bytes;
        std::size_t stride;
        std::int32_t width;
        std::int32_t height;

        [[nodiscard]] std::uint8_t* row(std::int32_t y) const { return bytes + static_cast<std::size_t>(y) * stride; }
    };

    // Allocates the buffer (rows stride bytes apart; 0 means tightly packed, width x 4), lets fill
    // write every pixel (without a fill function the picture is all zero), and freezes it. Null when a side is
    // outside 1...maxDimension or the stride is shorter than a row.
    [[nodiscard]] static std::shared_ptr<const PixelBuffer> make(std::int32_t width, std::int32_t height,
                                                                 const std::function<void(const Pixels&)>& fill,
                                                                 std::size_t stride = 0);

    // A picture over memory that someone else filled (a shared-memory segment the display server
    // wrote the screen into), without copying it. owner keeps the memory alive, and whoever hands
    // it out promises not to write to it again until the picture and every copy of it are gone.
    // Null on the sizes make() refuses.
    // Where a picture differs from an earlier one: the picture with serial `since` looked the same
    // outside the box (pixels; x, y, width, height). Lets a consumer that still holds the earlier
    // picture's conversion redo only the box.
    struct Change {
        std::uint64_t since = 0;
        std::int32_t x = 0;
        std::int32_t y = 0;
        std::int32_t width = 0;
        std::int32_t height = 0;
    };

    [[nodiscard]] static std::shared_ptr<const PixelBuffer> adopt(std::int32_t width, std::int32_t height,
                                                                  std::size_t stride, const std::uint8_t* bytes,
                                                                  std::shared_ptr<const void> owner,
                                                                  std::optional<Change> change = std::nullopt);

    [[nodiscard]] std::int32_t width() const { return width_; }
    [[nodiscard]] std::int32_t height() const { return height_; }
    [[nodiscard]] std::size_t stride() const { return stride_; }
    // Unique among the pictures of this process.
    [[nodiscard]] std::uint64_t serial() const { return serial_; }
    [[nodiscard]] const std::optional<Change>& change() const { return change_; }
    [[nodiscard]] const std::uint8_t* data() const { return bytes_; }
    [[nodiscard]] std::span<const std::uint8_t> row(std::int32_t y) const {
        return {data() + static_cast<std::size_t>(y) * stride_, static_cast<std::size_t>(width_) * bytesPerPixel};
    }

    PixelBuffer(const PixelBuffer&) = delete;
    PixelBuffer& operator=(const PixelBuffer&) = delete;
    ~PixelBuffer() = default;

private:
    PixelBuffer(std::int32_t width, std::int32_t height, std::size_t stride, const std::uint8_t* bytes,
                std::shared_ptr<const void> owner, std::optional<Change> change);
    [[nodiscard]] static bool validSize(std::int32_t width, std::int32_t height, std::size_t& stride);

    std::int32_t width_;
    std::int32_t height_;
    std::size_t stride_;
    const std::uint8_t* bytes_;
    std::shared_ptr<const void> owner_;
    std::uint64_t serial_;
    std::optional<Change> change_;
};

}  // namespace vantrel
