#pragma once

#include <cstdint>
#include <vector>

namespace vantrel {

// A rectangle of whole pixels, half-open: x..x+width, y..y+height.
struct PixelBox {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;

    bool operator==(const PixelBox&) const = default;
    [[nodiscard]] bool isEmpty() const { return width <= 0 || height <= 0; }
    // The smallest box holding both; an empty box adds nothing.
    [[nodiscard]] PixelBox united(const PixelBox& other) const;
    [[nodiscard]] PixelBox intersected(const PixelBox& other) const;
};

// Where a pointer image was drawn into a buffer: its box, and which image (0 for none). Two
// equal marks put the same pixels in the same place.
struct PointerMark {
    PixelBox box;
    std::uint64_t image = 0;

    bool operator==(const PointerMark&) const = default;
};

// Which part of each of a few frame buffers no longer shows the screen, so that a grab into a
// buffer fetches only that part instead of the whole area. Each buffer lags the screen by what
// was drawn since it was last refreshed; the pointer drawn into it then only matters when it moved,
// changed its image or had something drawn under it. One bounding box for what was drawn: a few
// moving things on a large screen cost their box, never the whole screen.
class DamageTracker {
public:
    // The last entry follows the frames handed out rather than a buffer (see sinceLastFrame).
    explicit DamageTracker(std::size_t buffers) : stale_(buffers + 1), marks_(buffers + 1) {}

    // A new area (or a change of size): every buffer must be fetched whole.
    void reset(PixelBox whole);

    // Something was drawn in box (area pixels); every buffer misses it.
    void damaged(const PixelBox& box);

    struct Plan {
        PixelBox fetch;            // to copy from the screen into the buffer
        bool drawPointer = false;  // then draw the pointer over it
    };
    // How buffer comes to show the screen with pointer drawn in.
    [[nodiscard]] Plan plan(std::size_t buffer, const PointerMark& pointer) const;

    // buffer now shows the screen with pointer drawn in (a mark with no image for none).
    void refreshed(std::size_t buffer, const PointerMark& pointer);

    // Where a frame with pointer may differ from the last one handed out; the whole area before
    // the first.
    [[nodiscard]] PixelBox sinceLastFrame(const PointerMark& pointer) const {
        return plan(stale_.size() - 1, pointer).fetch;
    }
    // A frame was handed out with pointer drawn in.
    void handedOut(const PointerMark& pointer) { refreshed(stale_.size() - 1, pointer); }

private:
    PixelBox whole_;
    std::vector<PixelBox> stale_;
    std::vector<PointerMark> marks_;
};

}  // namespace vantrel
