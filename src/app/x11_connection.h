// Small X11 facts read over Qt's own connection to the server.
#pragma once

#include <QWindow>

struct _XDisplay;

namespace dovetrel::app {

// Qt's Xlib display; nullptr when Qt does not run on X11.
_XDisplay* qtDisplay();

// Whether a compositing manager runs on the default screen (it owns _NET_WM_CM_S<n>).
bool hasCompositor();

// Asks a compositor that blurs behind windows to blur behind the whole of `window`.
void requestBlurBehind(WId window);

}  // namespace dovetrel::app
