#pragma once

namespace platform {

// Client or screen pixels. A rectangle includes its left and top edge and
// excludes its right and bottom edge.
struct Point {
    int x = 0;
    int y = 0;
    bool operator==(const Point&) const = default;
};

struct Size {
    int width = 0;
    int height = 0;
    bool operator==(const Size&) const = default;
};

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    bool operator==(const Rect&) const = default;
    bool contains(Point p) const { return p.x >= left && p.x < right && p.y >= top && p.y < bottom; }
    bool empty() const { return right <= left || bottom <= top; }
};

} // namespace platform
