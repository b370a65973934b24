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
}

void DamageTracker::damaged(const PixelBox& box) {
    const auto inside = box.intersected(whole_);
    for (auto& stale : stale_) {
        stale = stale.united(inside);
    }
}

void DamageTracker::refreshed(std::size_t buffer, const PixelBox& cursor) {
    stale_.at(buffer) = cursor.intersected(whole_);
}

}  // namespace vantrel
