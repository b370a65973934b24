#include "Backends/gnome/DamagedFrames.hpp"

#include <atomic>
#include <cstring>

namespace vantrel::gnome {

void DamagedFrames::reset(std::int32_t width, std::int32_t height) {
    width_ = width;
    height_ = height;
    buffers_.clear();
    lastSerial_.reset();
    tracker_.reset(whole());
}

void DamagedFrames::damaged(const PixelBox& box) {
    const auto clipped = box.intersected(whole());
    if (!clipped.isEmpty()) {
        tracker_.damaged(clipped);
    }
}

std::shared_ptr<const PixelBuffer> DamagedFrames::frame(const ScreenPixels& screen) {
    if (screen.width != width_ || screen.height != height_ || screen.bytes == nullptr || width_ <= 0 || height_ <= 0) {
        return nullptr;
    }
    const std::size_t stride = static_cast<std::size_t>(width_) * PixelBuffer::bytesPerPixel;
    std::optional<std::size_t> free;
    for (std::size_t index = 0; index < buffers_.size() && !free; ++index) {
        // Only this queue lends buffers out, so a count of one cannot grow behind our back; the
        // fence pairs with the encoder's release of its picture, so its reads come before our writes.
        if (buffers_[index].use_count() == 1) {
            std::atomic_thread_fence(std::memory_order_acquire);
            free = index;
        }
    }
    if (!free && buffers_.size() < frameBuffers) {
        buffers_.push_back(std::make_shared<std::vector<std::uint8_t>>(stride * static_cast<std::size_t>(height_)));
        free = buffers_.size() - 1;
    }
    if (!free) {
        return nullptr;
    }
    auto& buffer = buffers_[*free];
    const auto fetch = tracker_.plan(*free, {}).fetch.intersected(whole());
    const std::size_t rowBytes = static_cast<std::size_t>(fetch.width) * PixelBuffer::bytesPerPixel;
    for (std::int32_t y = fetch.y; y < fetch.y + fetch.height; ++y) {
        const std::size_t from = static_cast<std::size_t>(y) * screen.stride +
                                 static_cast<std::size_t>(fetch.x) * PixelBuffer::bytesPerPixel;
        const std::size_t to =
            static_cast<std::size_t>(y) * stride + static_cast<std::size_t>(fetch.x) * PixelBuffer::bytesPerPixel;
        std::memcpy(buffer->data() + to, screen.bytes + from, rowBytes);
    }
    tracker_.refreshed(*free, {});
    std::optional<PixelBuffer::Change> change;
    if (lastSerial_) {
        const auto box = tracker_.sinceLastFrame({});
        change = PixelBuffer::Change{*lastSerial_, box.x, box.y, box.width, box.height};
    }
    auto frame = PixelBuffer::adopt(width_, height_, stride, buffer->data(), buffer, change);
    if (frame) {
        tracker_.handedOut({});
        lastSerial_ = frame->serial();
    }
    return frame;
}

}  // namespace vantrel::gnome
