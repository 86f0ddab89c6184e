#include "core/geometry.h"

namespace dovetrel {

bool rectContainsPoint(const Rect& rect, Point point) {
    if (!(rect.size.width > 0) || !(rect.size.height > 0)) {
        return false;
    }
    return point.x >= rect.minX() && point.x < rect.maxX() && point.y >= rect.minY() &&
           point.y < rect.maxY();
}

}  // namespace dovetrel
