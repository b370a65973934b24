#include "PixelBuffer.hpp"

#include <atomic>
#include <cstring>
#include <utility>

namespace vantrel {

namespace {
std::atomic<std::uint64_t> nextSerial{1};
}  // namespace

PixelBuffer::PixelBuffer(std::int32_t width, std::int32_t height, std::size_t stride, const std::uint8_t* bytes,
                         std::shared_ptr<const void> owner, std::optional<Change> change)
    : width_(width),
      height_(height),
      stride_(stride),
      bytes_(bytes),
      owner_(std::move(owner)),
      serial_(nextSerial++),
      change_(change) {}

bool PixelBuffer::validSize(std::int32_t width, std::int32_t height, std::size_t& stride) {
    if (width < 1 || height < 1 || width > maxDimension || height > maxDimension) {
        return false;
    }
    const auto rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    if (stride == 0) {
        stride = rowBytes;
    }
    return stride >= rowBytes && stride <= rowBytes * 4;
}

std::shared_ptr<const PixelBuffer> PixelBuffer::make(std::int32_t width, std::int32_t height,
                                                     const std::function<void(const Pixels&)>& fill,
                                                     std::size_t stride) {
    if (!validSize(width, height, stride)) {
        return nullptr;
    }
    // Not value-initialised: the fill function writes every pixel, and zeroing 16 MB per frame
    // at 2560x1600 would cost as much as the colour conversion.
    const std::shared_ptr<std::uint8_t[]> storage(new std::uint8_t[stride * static_cast<std::size_t>(height)]);
    const Pixels pixels{storage.get(), stride, width, height};
    if (fill) {
        fill(pixels);
    } else {
        std::memset(pixels.bytes, 0, stride * static_cast<std::size_t>(height));
    }
    return std::shared_ptr<PixelBuffer>(new PixelBuffer(width, height, stride, storage.get(), storage, std::nullopt));
}

std::shared_ptr<const PixelBuffer> PixelBuffer::adopt(std::int32_t width, std::int32_t height, std::size_t stride,
                                                      const std::uint8_t* bytes, std::shared_ptr<const void> owner,
                                                      std::optional<Change> change) {
    if (bytes == nullptr || !validSize(width, height, stride)) {
        return nullptr;
    }
    return std::shared_ptr<PixelBuffer>(new PixelBuffer(width, height, stride, bytes, std::move(owner), change));
}

}  // namespace vantrel
