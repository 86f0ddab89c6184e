#include "app/x11_desktop.h"

namespace dovetrel::app {

struct X11Desktop::State {};

X11Desktop::X11Desktop() : state_(std::make_unique<State>()) {}

X11Desktop::~X11Desktop() = default;

std::optional<CursorImage> X11Desktop::currentCursor(double /*devicePixelRatio*/) {
    return std::nullopt;
}

std::optional<int32_t> X11Desktop::activeApplicationPid() {
    return std::nullopt;
}

std::optional<std::vector<WindowInfo>> X11Desktop::clientWindows() {
    return std::nullopt;
}

std::optional<QRect> X11Desktop::activeWindowMonitor() {
    return std::nullopt;
}

}  // namespace dovetrel::app
