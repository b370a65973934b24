#include "Backends/gnome/DamagedFrames.hpp"

#include <atomic>
#include <cstring>
#include <utility>

namespace vantrel::gnome {

PixelBox changedBox(const ScreenPixels& before, const ScreenPixels& after) {
    const auto rowBytes = static_cast<std::size_t>(after.width) * PixelBuffer::bytesPerPixel;
    const auto rowOf = [](const ScreenPixels& pixels, std::int32_t y) {
        return pixels.bytes + static_cast<std::size_t>(y) * pixels.stride;
    };
    const auto same = [&](std::int32_t y) { return std::memcmp(rowOf(before, y), rowOf(after, y), rowBytes) == 0; };
    std::int32_t top = 0;
    while (top < after.height && same(top)) {
        ++top;
    }
    if (top == after.height) {
        return {};
    }
    std::int32_t bottom = after.height - 1;
    while (bottom > top && same(bottom)) {
        --bottom;
    }
    // Columns: each row narrows the search to what lies outside the columns known to differ.
    std::int32_t left = after.width;
    std::int32_t right = -1;
    const auto pixel = [](const std::uint8_t* row, std::int32_t x) {
        std::uint32_t value = 0;
        std::memcpy(&value, row + static_cast<std::size_t>(x) * PixelBuffer::bytesPerPixel, sizeof value);
        return value;
    };
    for (std::int32_t y = top; y <= bottom; ++y) {
        const std::uint8_t* a = rowOf(before, y);
        const std::uint8_t* b = rowOf(after, y);
        for (std::int32_t x = 0; x < left; ++x) {
            if (pixel(a, x) != pixel(b, x)) {
                left = x;
                break;
            }
        }
        for (std::int32_t x = after.width - 1; x > right; --x) {
            if (pixel(a, x) != pixel(b, x)) {
                right = x;
                break;
            }
        }
    }
    if (right < left) {
        return {};
    }
    return {left, top, right - left + 1, bottom - top + 1};
}

void DamagedFrames::reset(std::int32_t width, std::int32_t height) {
    width_ = width;
    height_ = height;
    buffers_.clear();
    lastSerial_.reset();
    lastBuffer_.reset();
    unknown_ = false;
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
    if (std::exchange(unknown_, false)) {
        // Compared with the last frame, which showed everything up to then; without one (or
        // with its buffer gone), everything.
        if (lastBuffer_ && *lastBuffer_ < buffers_.size()) {
            damaged(changedBox({buffers_[*lastBuffer_]->data(), stride, width_, height_}, screen));
        } else {
            damaged(whole());
        }
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
        lastBuffer_ = free;
    }
    return frame;
}

}  // namespace vantrel::gnome
