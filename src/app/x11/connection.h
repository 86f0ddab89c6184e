// Small X11 facts read over Qt's own connection to the server.
#pragma once

#include <QRect>
#include <QWindow>
#include <optional>

struct _XDisplay;

namespace dovetrel::app {

// Qt's Xlib display; nullptr when Qt does not run on X11.
_XDisplay* qtDisplay();

// Whether a client owns the selection `prefix` followed by the default screen's number, as
// managers of the screen announce themselves (_NET_WM_CM_S0, _NET_SYSTEM_TRAY_S0).
bool screenSelectionHasOwner(const char* prefix);

// Whether a compositing manager runs on the default screen.
bool hasCompositor();

// Where the server shows top-level `window`, in root-window pixels: after whatever Qt has
// asked of it so far, since the question travels on Qt's own connection. nullopt when the
// window is unknown to the server.
std::optional<QRect> windowGeometryOnRoot(WId window);

// Asks a compositor that blurs behind windows to blur behind the whole of `window`.
void requestBlurBehind(WId window);

}  // namespace dovetrel::app
