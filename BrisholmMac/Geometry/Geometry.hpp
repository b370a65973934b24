#pragma once

#include <algorithm>
#include <cstdint>

namespace vantrel {

// Positions and areas on the desktop, in points of the global desktop space: origin at the top
// left of the root window, y downwards. On X11 one pixel is one point.
struct Point {
    double x = 0;
    double y = 0;

    bool operator==(const Point&) const = default;
};

struct Rect {
    double x = 0;
    double y = 0;
    double width = 0;
    double height = 0;

    bool operator==(const Rect&) const = default;

    [[nodiscard]] bool isEmpty() const { return width <= 0 || height <= 0; }
    [[nodiscard]] double minX() const { return x; }
    [[nodiscard]] double minY() const { return y; }
    [[nodiscard]] double maxX() const { return x + width; }
    [[nodiscard]] double maxY() const { return y + height; }
    [[nodiscard]] Point centre() const { return {x + width / 2, y + height / 2}; }

    // Half-open, as a pixel grid is: the right and bottom edges belong to the neighbour.
    [[nodiscard]] bool contains(Point point) const {
        return !isEmpty() && point.x >= x && point.x < maxX() && point.y >= y && point.y < maxY();
    }

    // The overlap with other; an empty rectangle when they do not meet.
    [[nodiscard]] Rect intersection(const Rect& other) const {
        const double left = std::max(x, other.x);
        const double top = std::max(y, other.y);
        const double right = std::min(maxX(), other.maxX());
        const double bottom = std::min(maxY(), other.maxY());
        if (right <= left || bottom <= top) {
            return {};
        }
        return {left, top, right - left, bottom - top};
    }
};

// Where one display sits on the desktop: its id (the one the phone sees in the welcome) and its
// bounds in global desktop points. Lists of these are in the display inventory's order, primary
// display first.
struct DisplayBounds {
    std::uint32_t id = 0;
    Rect bounds;

    bool operator==(const DisplayBounds&) const = default;
};

}  // namespace vantrel
