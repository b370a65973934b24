#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "Capture/DamageTracker.hpp"
#include "Capture/FrameAssembly.hpp"
#include "Capture/PixelBuffer.hpp"

namespace vantrel::gnome {

// The smallest box holding every pixel in which two pictures of one size differ (BGRx: the
// unused fourth byte counts too); empty when they are the same.
[[nodiscard]] PixelBox changedBox(const ScreenPixels& before, const ScreenPixels& after);

// Frames made from a stream whose buffers the compositor reuses, copying only what it reports as
// damaged: each of a few frame buffers of our own is brought up to date by the parts drawn since
// it was last filled, and each frame says where it differs from the one before, so the encoder
// converts only that. Pure memory work, no PipeWire: tests feed it pictures and damage.
//
// Lives on the capture queue.
class DamagedFrames {
public:
    // Buffers: one being filled, one in the encoder, one kept as the streamer's last frame.
    static constexpr std::size_t frameBuffers = 3;

    // A stream of this size starts: every buffer is filled whole next time.
    void reset(std::int32_t width, std::int32_t height);

    // Something was drawn in box (stream pixels; clipped to the picture).
    void damaged(const PixelBox& box);
    // A picture came without damage information (GNOME 43 sends none): the next frame finds out
    // itself where it differs from the last one, at the cost of comparing the two.
    void damageUnknown() { unknown_ = true; }

    // A frame of screen, which must show everything damaged so far and have the size of the last
    // reset; null when every buffer is still lent out (the caller loses this frame) or the size
    // differs.
    [[nodiscard]] std::shared_ptr<const PixelBuffer> frame(const ScreenPixels& screen);

    [[nodiscard]] PixelBox whole() const { return {0, 0, width_, height_}; }

private:
    std::int32_t width_ = 0;
    bool unknown_ = false;
    std::optional<std::size_t> lastBuffer_;  // the buffer of the last frame handed out
    std::int32_t height_ = 0;
    DamageTracker tracker_{frameBuffers};
    std::vector<std::shared_ptr<std::vector<std::uint8_t>>> buffers_;
    std::optional<std::uint64_t> lastSerial_;
};

}  // namespace vantrel::gnome
