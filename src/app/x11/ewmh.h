// The X queries that X11Desktop and DesktopNotifications share, and the pure conversions
// behind them, apart so that tests can reach them. Implemented in x11_desktop.cpp.
#pragma once

#include <xcb/xcb.h>

#include <QPoint>
#include <QRect>
#include <QSize>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "app/qt/screen_geometry.h"
#include "core/platform.h"

namespace dovetrel::app {

// An xcb reply, which xcb allocates with malloc.
struct FreeReply {
    void operator()(void* reply) const { std::free(reply); }
};
template <typename Reply>
using ReplyPtr = std::unique_ptr<Reply, FreeReply>;

// A pointer image from XFixes (premultiplied ARGB, one value a pixel, rows top to bottom) as
// the core wants it: its size in points for `devicePixelRatio`, a cache key made of the size
// and the pixels, and RGBA bytes. The bitmap is nullopt when `argb` is shorter than the size.
CursorImage cursorImageFromArgb(int width, int height, std::span<const uint32_t> argb,
                                double devicePixelRatio);

// A size in server pixels in Qt's units on a monitor of `devicePixelRatio`, rounded the way
// Qt rounds the monitor's own size, so that a window exactly as large as the monitor comes
// out exactly as large as its geometry.
QSize logicalSize(QSize serverSize, double devicePixelRatio);

// An xcb connection of our own to the display Qt uses. Requests on it report their errors
// with their replies, so a window that vanishes meanwhile costs nothing, and no process-wide
// Xlib error handler has to be swapped while other threads use Xlib. Empty when Qt does not
// run on X11 or the server cannot be reached.
class XcbConnection {
  public:
    XcbConnection();
    ~XcbConnection();
    XcbConnection(const XcbConnection&) = delete;
    XcbConnection& operator=(const XcbConnection&) = delete;

    // nullptr when there is no usable connection (also after the server went away).
    xcb_connection_t* get() const;
    xcb_window_t root() const { return root_; }
    // Whether the server offers `extension`; its requests close the connection otherwise.
    bool has(xcb_extension_t& extension) const;

  private:
    xcb_connection_t* connection_ = nullptr;
    xcb_window_t root_ = XCB_NONE;
};

struct EwmhAtoms {
    xcb_atom_t activeWindow = XCB_NONE;
    xcb_atom_t clientList = XCB_NONE;
    xcb_atom_t currentDesktop = XCB_NONE;
    xcb_atom_t wmPid = XCB_NONE;

    explicit EwmhAtoms(xcb_connection_t* connection);
};

// The 32-bit values of a window's property of `type`; nullopt when the window or the
// property is missing.
std::optional<std::vector<uint32_t>> readProperty(xcb_connection_t* connection, xcb_window_t window,
                                                  xcb_atom_t property, xcb_atom_t type);

// _NET_ACTIVE_WINDOW; nullopt without an EWMH window manager or without an active window.
std::optional<xcb_window_t> activeWindow(const XcbConnection& connection, const EwmhAtoms& atoms);

// The process that owns `window`: its _NET_WM_PID, else what the server knows of the client
// that created it (X-Resource). nullopt when neither tells.
std::optional<int32_t> windowOwnerPid(const XcbConnection& connection, const EwmhAtoms& atoms,
                                      xcb_window_t window);

}  // namespace dovetrel::app
