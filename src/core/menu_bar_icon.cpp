#include "core/menu_bar_icon.h"

namespace dovetrel {

MenuBarIcon makeMenuBarIcon(bool active) {
    MenuBarIcon icon;
    icon.active = active;
    icon.tileFillAlpha = active ? 0.35 : 0.15;
    icon.tileStrokeAlpha = active ? 1.0 : 0.3;
    if (!active) {
        icon.diagonal = MenuBarIcon::Stroke{{3, 3}, {15, 15}, 1.5, 0.8};
    }
    return icon;
}

}  // namespace dovetrel
