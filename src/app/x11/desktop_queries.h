// What the core asks of the desktop on X11: the pointer's image, the program in front and its
// windows, the screen with keyboard focus.
#pragma once

#include <QRect>
#include <QSize>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "core/platform.h"

namespace dovetrel::app {

class X11Desktop {
  public:
    X11Desktop();
    ~X11Desktop();

    // Whether the display has X screens besides the program's own, each with a root window
    // of its own (DISPLAY=:0.1); false when it cannot be told.
    bool hasOtherScreens() const;
    // Whether the pointer is on the program's own X screen; true when it cannot be told.
    bool pointerIsOnOwnScreen();
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

// A pointer image from XFixes (premultiplied ARGB, one value a pixel, rows top to bottom) as
// the core wants it: its size in points for `devicePixelRatio`, a cache key made of the size
// and the pixels, and RGBA bytes. The bitmap is nullopt when `argb` is shorter than the size.
CursorImage cursorImageFromArgb(int width, int height, std::span<const uint32_t> argb,
                                double devicePixelRatio);

// A size in server pixels in Qt's units on a monitor of `devicePixelRatio`, rounded the way
// Qt rounds the monitor's own size, so that a window exactly as large as the monitor comes
// out exactly as large as its geometry.
QSize logicalSize(QSize serverSize, double devicePixelRatio);

}  // namespace dovetrel::app
