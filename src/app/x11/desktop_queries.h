// What the core asks of the desktop on X11: the pointer's image, the program in front and its
// windows, the screen with keyboard focus.
#pragma once

#include <QRect>
#include <optional>
#include <vector>

#include "core/platform.h"

namespace dovetrel::app {

class X11Desktop {
  public:
    X11Desktop();
    ~X11Desktop();

    // The displayed pointer image from XFixes, sized in points for `devicePixelRatio`.
    std::optional<CursorImage> currentCursor(double devicePixelRatio);
    // The process owning _NET_ACTIVE_WINDOW; nullopt without an EWMH window manager.
    std::optional<int32_t> activeApplicationPid();
    // Viewable client windows (_NET_CLIENT_LIST) with their owners and sizes.
    std::optional<std::vector<WindowInfo>> clientWindows();
    // The monitor holding the active window's centre, in Qt's global coordinates; nullopt
    // when there is no active window.
    std::optional<QRect> activeWindowMonitor();

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dovetrel::app
