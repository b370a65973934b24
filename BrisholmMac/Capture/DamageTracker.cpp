#include "DamageTracker.hpp"

#include <algorithm>

namespace vantrel {

PixelBox PixelBox::united(const PixelBox& other) const {
    if (other.isEmpty()) {
        return *this;
    }
    if (isEmpty()) {
        return other;
    }
    const auto left = std::min(x, other.x);
    const auto top = std::min(y, other.y);
    const auto right = std::max(x + width, other.x + other.width);
    const auto bottom = std::max(y + height, other.y + other.height);
    return {left, top, right - left, bottom - top};
}

PixelBox PixelBox::intersected(const PixelBox& other) const {
    const auto left = std::max(x, other.x);
    const auto top = std::max(y, other.y);
    const auto right = std::min(x + width, other.x + other.width);
    const auto bottom = std::min(y + height, other.y + other.height);
    if (right <= left || bottom <= top) {
        return {};
    }
    return {left, top, right - left, bottom - top};
}

void DamageTracker::reset(PixelBox whole) {
    whole_ = whole;
    std::fill(stale_.begin(), stale_.end(), whole);
    std::fill(marks_.begin(), marks_.end(), PointerMark{});
}

void DamageTracker::damaged(const PixelBox& box) {
    const auto inside = box.intersected(whole_);
    for (auto& stale : stale_) {
        stale = stale.united(inside);
    }
}

DamageTracker::Plan DamageTracker::plan(std::size_t buffer, const PointerMark& pointer) const {
    const auto& stale = stale_.at(buffer);
    const auto& drawn = marks_.at(buffer);
    if (drawn == pointer && stale.intersected(drawn.box).isEmpty()) {
        // The pointer's pixels in the buffer are already what they must be.
        return {stale, false};
    }
    // Where the old pointer was must show the screen again, and the new one is drawn over a
    // clean image (drawing over an earlier pointer would blend its edges twice).
    const auto pointerBox = pointer.image != 0 ? pointer.box : PixelBox{};
    return {stale.united(drawn.box).united(pointerBox).intersected(whole_), pointer.image != 0};
}

void DamageTracker::refreshed(std::size_t buffer, const PointerMark& pointer) {
    stale_.at(buffer) = {};
    marks_.at(buffer) = pointer;
}

}  // namespace vantrel
