// What the tray icon shows, as a description the platform draws.
#pragma once

#include <optional>

#include "core/geometry.h"

namespace dovetrel {

// An 18 x 18 template picture in bottom-left-origin coordinates, drawn in the panel's
// foreground colour with the given alphas: a rounded tile, a pointer arrow centred on it,
// and, when inactive, a diagonal stroke over the arrow.
struct MenuBarIcon {
    struct Stroke {
        Point from;
        Point to;
        double lineWidth = 0;
        double alpha = 0;  // drawn with round caps
    };

    bool active = true;
    Size size{18, 18};
    Rect tile{{1, 1}, {16, 16}};
    double tileCornerRadius = 3;
    double tileFillAlpha = 0;
    double tileStrokeAlpha = 0;
    double tileStrokeWidth = 1.0;
    double arrowPointSize = 9.0;  // medium weight, centred at its natural size
    std::optional<Stroke> diagonal;
};

MenuBarIcon makeMenuBarIcon(bool active);

}  // namespace dovetrel
