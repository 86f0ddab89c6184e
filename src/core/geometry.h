// Points, sizes and rectangles in screen points.
//
// Two conventions meet in this program. Window coordinates have their origin at the
// bottom-left corner of the primary display with y growing upwards; window frames and the
// pointer position are given in them. Tap coordinates have their origin at the top-left
// corner of the primary display with y growing downwards; only presses seen by the click
// guard arrive in them, and they are flipped in one place (click_guard.cpp).
#pragma once

namespace dovetrel {

struct Point {
    double x = 0;
    double y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Size {
    double width = 0;
    double height = 0;
    friend bool operator==(const Size&, const Size&) = default;
};

struct Rect {
    Point origin;
    Size size;

    double minX() const { return origin.x; }
    double minY() const { return origin.y; }
    double maxX() const { return origin.x + size.width; }
    double maxY() const { return origin.y + size.height; }
    friend bool operator==(const Rect&, const Rect&) = default;
};

// Half-open containment: a point on the minimum x or y edge is inside, one on the maximum x
// or y edge is outside. An empty rectangle contains nothing.
bool rectContainsPoint(const Rect& rect, Point point);

}  // namespace dovetrel
