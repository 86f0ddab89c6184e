#include "app/x11/connection.h"

#include <xcb/xcb.h>
#include <xcb/xfixes.h>
#include <xcb/xinput.h>

#include <QGuiApplication>
#include <string>
#include <utility>

#include "app/qt/logging.h"
#include "app/x11/xlib.h"

// Xlib after Qt: its macros (None, Bool, Status) break Qt's headers.
#include <X11/Xlib-xcb.h>

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

XConnection::XConnection(const char* displayName) {
    int screenNumber = 0;
    connection_ = xcb_connect(displayName, &screenNumber);
    owned_ = true;
    if (xcb_connection_has_error(connection_) != 0) {
        givenUp_ = true;
        return;
    }
    findRoot(screenNumber);
}

XConnection XConnection::toQtServer() {
    Display* qt = qtDisplay();
    return qt != nullptr ? XConnection(DisplayString(qt)) : XConnection();
}

XConnection XConnection::sharing(Display* display) {
    XConnection shared;
    if (display != nullptr) {
        shared.connection_ = XGetXCBConnection(display);
        shared.findRoot(DefaultScreen(display));
    }
    return shared;
}

XConnection::~XConnection() {
    if (owned_ && connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

XConnection::XConnection(XConnection&& other) noexcept
    : connection_(std::exchange(other.connection_, nullptr)),
      owned_(std::exchange(other.owned_, false)),
      givenUp_(other.givenUp_),
      root_(other.root_),
      screenNumber_(other.screenNumber_),
      report_(std::move(other.report_)) {}

XConnection& XConnection::operator=(XConnection&& other) noexcept {
    if (this != &other) {
        if (owned_ && connection_ != nullptr) {
            xcb_disconnect(connection_);
        }
        connection_ = std::exchange(other.connection_, nullptr);
        owned_ = std::exchange(other.owned_, false);
        givenUp_ = other.givenUp_;
        root_ = other.root_;
        screenNumber_ = other.screenNumber_;
        report_ = std::move(other.report_);
    }
    return *this;
}

void XConnection::findRoot(int screenNumber) {
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int skip = screenNumber; skip > 0 && screens.rem > 0; --skip) {
        xcb_screen_next(&screens);
    }
    if (screens.rem == 0) {
        givenUp_ = true;
        return;
    }
    root_ = screens.data->root;
    screenNumber_ = screenNumber;
}

xcb_connection_t* XConnection::get() const {
    return connection_ != nullptr && !givenUp_ && xcb_connection_has_error(connection_) == 0
               ? connection_
               : nullptr;
}

int XConnection::fileDescriptor() const {
    return connection_ != nullptr ? xcb_get_file_descriptor(connection_) : -1;
}

bool XConnection::has(xcb_extension_t& extension) const {
    xcb_connection_t* connection = get();
    if (connection == nullptr) {
        return false;
    }
    const auto* data = xcb_get_extension_data(connection, &extension);
    return data != nullptr && data->present != 0;
}

std::optional<ExtensionVersion> XConnection::announceXInput(ExtensionVersion spoken) {
    if (!has(xcb_input_id)) {
        return std::nullopt;
    }
    const Reply<xcb_input_xi_query_version_reply_t> version(xcb_input_xi_query_version_reply(
        connection_,
        xcb_input_xi_query_version(connection_, uint16_t(spoken.major), uint16_t(spoken.minor)),
        nullptr));
    if (!version) {
        return std::nullopt;
    }
    return ExtensionVersion{version->major_version, version->minor_version};
}

std::optional<ExtensionVersion> XConnection::announceXFixes(ExtensionVersion spoken) {
    if (!has(xcb_xfixes_id)) {
        return std::nullopt;
    }
    const Reply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
        connection_,
        xcb_xfixes_query_version(connection_, uint32_t(spoken.major), uint32_t(spoken.minor)),
        nullptr));
    if (!version) {
        return std::nullopt;
    }
    return ExtensionVersion{int(version->major_version), int(version->minor_version)};
}

xcb_atom_t XConnection::atom(std::string_view name) {
    xcb_connection_t* connection = get();
    if (connection == nullptr) {
        return XCB_ATOM_NONE;
    }
    const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(
        connection, xcb_intern_atom(connection, 0, uint16_t(name.size()), name.data()), nullptr));
    return reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
}

void XConnection::markAs(std::string_view name) {
    xcb_connection_t* connection = get();
    if (connection == nullptr) {
        return;
    }
    const xcb_window_t marker = xcb_generate_id(connection);
    xcb_create_window(connection, 0, marker, root_, -1, -1, 1, 1, 0, XCB_WINDOW_CLASS_INPUT_ONLY,
                      XCB_COPY_FROM_PARENT, 0, nullptr);
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, marker, XCB_ATOM_WM_NAME,
                        XCB_ATOM_STRING, 8, uint32_t(name.size()), name.data());
    xcb_flush(connection);
}

bool XConnection::roundTrip() {
    xcb_connection_t* connection = get();
    return connection != nullptr &&
           Reply<xcb_get_input_focus_reply_t>(xcb_get_input_focus_reply(
               connection, xcb_get_input_focus(connection), nullptr)) != nullptr;
}

Reply<xcb_generic_error_t> XConnection::check(xcb_void_cookie_t cookie) {
    if (connection_ == nullptr) {
        return nullptr;
    }
    return Reply<xcb_generic_error_t>(xcb_request_check(connection_, cookie));
}

void XConnection::ignore(xcb_void_cookie_t cookie) {
    if (connection_ != nullptr) {
        xcb_discard_reply(connection_, cookie.sequence);
    }
}

bool XConnection::require(xcb_void_cookie_t cookie, const char* what) {
    if (const Reply<xcb_generic_error_t> error = check(cookie)) {
        report("X error " + std::to_string(error->error_code) + " on " + what +
               "; closing the connection");
        givenUp_ = true;
        if (owned_) {
            xcb_disconnect(std::exchange(connection_, nullptr));
            owned_ = false;
        }
    }
    return get() != nullptr;
}

Reply<xcb_generic_event_t> XConnection::skipErrors(
    xcb_generic_event_t* (*next)(xcb_connection_t*)) {
    xcb_connection_t* connection = get();
    while (connection != nullptr) {
        Reply<xcb_generic_event_t> event(next(connection));
        if (!event || event->response_type != 0) {
            return event;
        }
        const auto* error = reinterpret_cast<const xcb_generic_error_t*>(event.get());
        report("X error " + std::to_string(error->error_code) + " on request " +
               std::to_string(error->major_code) + "." + std::to_string(error->minor_code));
    }
    return nullptr;
}

void XConnection::report(const std::string& message) const {
    if (report_) {
        report_(message);
    } else {
        qCWarning(lcMonitor, "%s", message.c_str());
    }
}

Reply<xcb_generic_event_t> XConnection::pollEvent() {
    return skipErrors(xcb_poll_for_event);
}

Reply<xcb_generic_event_t> XConnection::pollQueuedEvent() {
    return skipErrors(xcb_poll_for_queued_event);
}

// --- Qt's own connection

Display* qtDisplay() {
    const auto* x11 = qtX11();
    return x11 != nullptr ? x11->display() : nullptr;
}

namespace {

// The owner of the selection `prefix` followed by the default screen's number; None without a
// display.
Window screenSelectionOwner(const char* prefix) {
    Display* display = qtDisplay();
    if (display == nullptr) {
        return None;
    }
    const std::string name = prefix + std::to_string(DefaultScreen(display));
    return XGetSelectionOwner(display, XInternAtom(display, name.c_str(), False));
}

}  // namespace

bool screenSelectionHasOwner(const char* prefix) {
    return screenSelectionOwner(prefix) != None;
}

std::optional<QColor> systemTrayForeground() {
    Display* display = qtDisplay();
    if (display == nullptr) {
        return std::nullopt;
    }
    const Window tray = screenSelectionOwner("_NET_SYSTEM_TRAY_S");
    if (tray == None) {
        return std::nullopt;
    }
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    // The tray may go between the two requests: a missing window reads as no property.
    const Atom colors = XInternAtom(display, "_NET_SYSTEM_TRAY_COLORS", False);
    const int status = XGetWindowProperty(display, tray, colors, 0, 12, False, XA_CARDINAL, &type,
                                          &format, &count, &remaining, &data);
    std::optional<QColor> foreground;
    if (status == Success && format == 32 && count >= 3) {
        // Foreground, error, warning and success colours, each red, green, blue in 16 bits.
        const auto* values = reinterpret_cast<const unsigned long*>(data);
        foreground = QColor::fromRgba64(quint16(values[0]), quint16(values[1]), quint16(values[2]));
    }
    if (data != nullptr) {
        XFree(data);
    }
    return foreground;
}

bool hasCompositor() {
    return screenSelectionHasOwner("_NET_WM_CM_S");
}

std::optional<QRect> windowRectOnRoot(xcb_connection_t* connection, xcb_window_t window,
                                      xcb_window_t root) {
    if (connection == nullptr || window == XCB_NONE) {
        return std::nullopt;
    }
    // Both asked before either answer is awaited: one round trip.
    const auto geometryCookie = xcb_get_geometry(connection, window);
    const auto cornerCookie = xcb_translate_coordinates(connection, window, root, 0, 0);
    const Reply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, geometryCookie, nullptr));
    const Reply<xcb_translate_coordinates_reply_t> corner(
        xcb_translate_coordinates_reply(connection, cornerCookie, nullptr));
    if (!geometry || !corner) {
        return std::nullopt;
    }
    return QRect(corner->dst_x, corner->dst_y, geometry->width, geometry->height);
}

std::optional<QRect> windowGeometryOnRoot(WId window) {
    const auto* x11 = qtX11();
    if (x11 == nullptr) {
        return std::nullopt;
    }
    return windowRectOnRoot(x11->connection(), static_cast<xcb_window_t>(window),
                            DefaultRootWindow(x11->display()));
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
