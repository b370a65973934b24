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

// Which part of each of a few frame buffers no longer shows the screen, so that a grab into a
// buffer fetches only that part instead of the whole area. Each buffer lags the screen by what
// was drawn since it was last refreshed, plus the pointer drawn into it then. One bounding box
// per buffer: a few moving things on a large screen cost their box, never the whole screen.
class DamageTracker {
public:
    // The last entry follows the frames handed out rather than a buffer (see sinceLastFrame).
    explicit DamageTracker(std::size_t buffers) : stale_(buffers + 1) {}

    // A new area (or a change of size): every buffer must be fetched whole.
    void reset(PixelBox whole);

    // Something was drawn in box (area pixels); every buffer misses it.
    void damaged(const PixelBox& box);

    // What buffer must fetch before it shows the screen.
    [[nodiscard]] PixelBox stale(std::size_t buffer) const { return stale_.at(buffer); }

    // buffer was brought up to date, then the pointer was drawn into it over cursor (empty when
    // none was): that part is stale for its next use.
    void refreshed(std::size_t buffer, const PixelBox& cursor);

    // Where the next frame may differ from the last one handed out: what was drawn since, and
    // where the pointer was drawn into the last one. The whole area before the first.
    [[nodiscard]] PixelBox sinceLastFrame() const { return stale_.back(); }
    // A frame was handed out with the pointer drawn over cursor.
    void handedOut(const PixelBox& cursor) { refreshed(stale_.size() - 1, cursor); }

private:
    PixelBox whole_;
    std::vector<PixelBox> stale_;
};

}  // namespace vantrel
