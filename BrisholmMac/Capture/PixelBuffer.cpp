#include "PixelBuffer.hpp"

#include <cstring>

namespace vantrel {

PixelBuffer::PixelBuffer(std::int32_t width, std::int32_t height, std::size_t stride)
    : width_(width),
      height_(height),
      stride_(stride),
      // Not value-initialised: the fill function writes every pixel, and zeroing 16 MB per frame
      // at 2560x1600 would cost as much as the colour conversion.
      bytes_(new std::uint8_t[stride * static_cast<std::size_t>(height)]) {}

std::shared_ptr<const PixelBuffer> PixelBuffer::make(std::int32_t width, std::int32_t height,
                                                     const std::function<void(const Pixels&)>& fill,
                                                     std::size_t stride) {
    if (width < 1 || height < 1 || width > maxDimension || height > maxDimension) {
        return nullptr;
    }
    const auto rowBytes = static_cast<std::size_t>(width) * bytesPerPixel;
    if (stride == 0) {
        stride = rowBytes;
    }
    if (stride < rowBytes || stride > rowBytes * 4) {
        return nullptr;
    }
    std::shared_ptr<PixelBuffer> buffer(new PixelBuffer(width, height, stride));
    const Pixels pixels{buffer->bytes_.get(), stride, width, height};
    if (fill) {
        fill(pixels);
    } else {
        std::memset(pixels.bytes, 0, stride * static_cast<std::size_t>(height));
    }
    return buffer;
}

}  // namespace vantrel
