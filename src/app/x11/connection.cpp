#include "app/x11/connection.h"

#include <QGuiApplication>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/x11/xlib.h"

// After Qt and Xlib, as elsewhere.
#include <xcb/xcb.h>

namespace dovetrel::app {

namespace {

// Null without a graphical application on X11. A plain QCoreApplication is not one, whatever
// qGuiApp's cast would say.
const QNativeInterface::QX11Application* qtX11() {
    const auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
    return application ? application->nativeInterface<QNativeInterface::QX11Application>()
                       : nullptr;
}

}  // namespace

_XDisplay* qtDisplay() {
    const auto* x11 = qtX11();
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

std::optional<QRect> windowGeometryOnRoot(WId window) {
    const auto* x11 = qtX11();
    if (x11 == nullptr || window == 0) {
        return std::nullopt;
    }
    xcb_connection_t* connection = x11->connection();
    const auto id = static_cast<xcb_window_t>(window);
    // Both asked before either answer is awaited: one round trip.
    const auto geometryCookie = xcb_get_geometry(connection, id);
    const auto cornerCookie =
        xcb_translate_coordinates(connection, id, DefaultRootWindow(x11->display()), 0, 0);
    const std::unique_ptr<xcb_get_geometry_reply_t, decltype(&std::free)> geometry(
        xcb_get_geometry_reply(connection, geometryCookie, nullptr), &std::free);
    const std::unique_ptr<xcb_translate_coordinates_reply_t, decltype(&std::free)> corner(
        xcb_translate_coordinates_reply(connection, cornerCookie, nullptr), &std::free);
    if (!geometry || !corner) {
        return std::nullopt;
    }
    return QRect(corner->dst_x, corner->dst_y, geometry->width, geometry->height);
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
