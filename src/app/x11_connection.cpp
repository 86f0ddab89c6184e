#include "app/x11_connection.h"

#include <QGuiApplication>
#include <string>

#include "app/xlib.h"

namespace dovetrel::app {

_XDisplay* qtDisplay() {
    const auto* x11 =
        qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    return x11 != nullptr ? x11->display() : nullptr;
}

bool screenSelectionHasOwner(const char* prefix) {
    Display* display = qtDisplay();
    if (display == nullptr) {
        return false;
    }
    const std::string name = prefix + std::to_string(DefaultScreen(display));
    const Atom selection = XInternAtom(display, name.c_str(), False);
    return XGetSelectionOwner(display, selection) != None;
}

bool hasCompositor() {
    return screenSelectionHasOwner("_NET_WM_CM_S");
}

void requestBlurBehind(WId window) {
    Display* display = qtDisplay();
    if (display == nullptr || window == 0) {
        return;
    }
    // An empty region means the whole window.
    const Atom blur = XInternAtom(display, "_KDE_NET_WM_BLUR_BEHIND_REGION", False);
    XChangeProperty(display, window, blur, XA_CARDINAL, 32, PropModeReplace, nullptr, 0);
    XFlush(display);
}

}  // namespace dovetrel::app
