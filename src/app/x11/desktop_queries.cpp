#include "app/x11/desktop_queries.h"

#include <xcb/res.h>
#include <xcb/xfixes.h>

#include <QGuiApplication>
#include <QScreen>
#include <QSocketNotifier>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string_view>

#include "app/x11/connection.h"
#include "app/x11/ewmh.h"
#include "app/x11/xlib.h"

namespace dovetrel::app {
namespace {

void appendWord(std::vector<uint8_t>& bytes, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(word >> shift));
    }
}

// A window's centre in root-window pixels. The geometry's position is relative to the window
// manager's frame, so the corner comes from a translation to the root.
QPoint centreOf(const xcb_get_geometry_reply_t& geometry,
                const xcb_translate_coordinates_reply_t& corner) {
    return {corner.dst_x + geometry.width / 2, corner.dst_y + geometry.height / 2};
}

// The monitor of a window centred at `centre`, falling back to the first monitor so that a
// window off every monitor is still measured in Qt's units.
std::optional<std::size_t> monitorOrFirst(QPoint centre, const std::vector<MonitorArea>& monitors) {
    if (const auto holding = monitorHolding(centre, monitors)) {
        return holding;
    }
    return monitors.empty() ? std::nullopt : std::optional<std::size_t>(0);
}

}  // namespace

// --- pure conversions

CursorImage cursorImageFromArgb(int width, int height, std::span<const uint32_t> argb,
                                double devicePixelRatio) {
    const double ratio = devicePixelRatio > 0 ? devicePixelRatio : 1.0;
    CursorImage image;
    image.size = Size{width / ratio, height / ratio};
    const std::size_t pixelCount =
        width > 0 && height > 0 ? static_cast<std::size_t>(width) * static_cast<std::size_t>(height)
                                : 0;
    if (argb.size() < pixelCount) {
        return image;
    }
    CursorBitmap bitmap{width, height, {}};
    bitmap.rgba.reserve(4 * pixelCount);
    for (std::size_t i = 0; i < pixelCount; ++i) {
        const uint32_t pixel = argb[i];
        bitmap.rgba.push_back(static_cast<uint8_t>(pixel >> 16));
        bitmap.rgba.push_back(static_cast<uint8_t>(pixel >> 8));
        bitmap.rgba.push_back(static_cast<uint8_t>(pixel));
        bitmap.rgba.push_back(static_cast<uint8_t>(pixel >> 24));
    }
    // The cursor serial counts every cursor change on the server and names no image, so the
    // key is the image itself. The size goes first: 1 x 4 and 2 x 2 pixels are not alike.
    std::vector<uint8_t> key;
    key.reserve(8 + bitmap.rgba.size());
    appendWord(key, static_cast<uint32_t>(width));
    appendWord(key, static_cast<uint32_t>(height));
    key.insert(key.end(), bitmap.rgba.begin(), bitmap.rgba.end());
    image.bytes = std::move(key);
    image.bitmap = std::move(bitmap);
    return image;
}

QSize logicalSize(QSize serverSize, double devicePixelRatio) {
    if (devicePixelRatio <= 0) {
        return serverSize;
    }
    // Qt scales sizes by the inverse ratio and rounds (QHighDpi::fromNativePixels).
    return serverSize * (1.0 / devicePixelRatio);
}

// --- shared X queries

XcbConnection::XcbConnection() {
    // Without a GUI application there is no display of Qt's to follow.
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return;
    }
    Display* qt = qtDisplay();
    if (qt == nullptr) {
        return;
    }
    int screenNumber = 0;
    connection_ = xcb_connect(DisplayString(qt), &screenNumber);
    if (xcb_connection_has_error(connection_) != 0) {
        xcb_disconnect(connection_);
        connection_ = nullptr;
        return;
    }
    auto screens = xcb_setup_roots_iterator(xcb_get_setup(connection_));
    for (int i = 0; i < screenNumber && screens.rem > 0; ++i) {
        xcb_screen_next(&screens);
    }
    root_ = screens.rem > 0 ? screens.data->root : XCB_NONE;
}

XcbConnection::~XcbConnection() {
    if (connection_ != nullptr) {
        xcb_disconnect(connection_);
    }
}

xcb_connection_t* XcbConnection::get() const {
    return connection_ != nullptr && xcb_connection_has_error(connection_) == 0 ? connection_
                                                                                : nullptr;
}

bool XcbConnection::has(xcb_extension_t& extension) const {
    xcb_connection_t* connection = get();
    if (connection == nullptr) {
        return false;
    }
    const auto* data = xcb_get_extension_data(connection, &extension);
    return data != nullptr && data->present != 0;
}

EwmhAtoms::EwmhAtoms(xcb_connection_t* connection) {
    if (connection == nullptr) {
        return;
    }
    const auto intern = [connection](std::string_view name) {
        return xcb_intern_atom(connection, 0, static_cast<uint16_t>(name.size()), name.data());
    };
    const xcb_intern_atom_cookie_t cookies[] = {
        intern("_NET_ACTIVE_WINDOW"), intern("_NET_CLIENT_LIST"), intern("_NET_CURRENT_DESKTOP"),
        intern("_NET_WM_PID")};
    xcb_atom_t* atoms[] = {&activeWindow, &clientList, &currentDesktop, &wmPid};
    for (std::size_t i = 0; i < std::size(cookies); ++i) {
        const ReplyPtr<xcb_intern_atom_reply_t> reply(
            xcb_intern_atom_reply(connection, cookies[i], nullptr));
        *atoms[i] = reply ? reply->atom : XCB_NONE;
    }
}

namespace {

std::optional<std::vector<uint32_t>> propertyValues(xcb_connection_t* connection,
                                                    xcb_get_property_cookie_t cookie,
                                                    xcb_atom_t type) {
    const ReplyPtr<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection, cookie, nullptr));
    if (!reply || reply->type != type || reply->format != 32) {
        return std::nullopt;
    }
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<uint32_t>(values, values + count);
}

xcb_get_property_cookie_t requestProperty(xcb_connection_t* connection, xcb_window_t window,
                                          xcb_atom_t property, xcb_atom_t type) {
    // _NET_CLIENT_LIST is the only long one; a million windows is more than any desktop.
    return xcb_get_property(connection, 0, window, property, type, 0, 1u << 20);
}

std::optional<int32_t> pidFromValues(const std::optional<std::vector<uint32_t>>& values) {
    if (!values || values->empty() || (*values)[0] == 0) {
        return std::nullopt;
    }
    return static_cast<int32_t>((*values)[0]);
}

// The pid of the client that created `window`, as the server knows it.
std::optional<int32_t> clientPid(const XcbConnection& connection, xcb_window_t window) {
    if (!connection.has(xcb_res_id)) {
        return std::nullopt;
    }
    xcb_connection_t* xcb = connection.get();
    const xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    const ReplyPtr<xcb_res_query_client_ids_reply_t> reply(
        xcb_res_query_client_ids_reply(xcb, xcb_res_query_client_ids(xcb, 1, &query), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    // Only the pid was asked for; a client on another machine has none.
    const auto ids = xcb_res_query_client_ids_ids_iterator(reply.get());
    if (ids.rem > 0 && xcb_res_client_id_value_value_length(ids.data) >= 1) {
        return static_cast<int32_t>(*xcb_res_client_id_value_value(ids.data));
    }
    return std::nullopt;
}

}  // namespace

std::optional<std::vector<uint32_t>> readProperty(xcb_connection_t* connection, xcb_window_t window,
                                                  xcb_atom_t property, xcb_atom_t type) {
    if (connection == nullptr || property == XCB_NONE) {
        return std::nullopt;
    }
    return propertyValues(connection, requestProperty(connection, window, property, type), type);
}

std::optional<xcb_window_t> activeWindow(const XcbConnection& connection, const EwmhAtoms& atoms) {
    const auto values =
        readProperty(connection.get(), connection.root(), atoms.activeWindow, XCB_ATOM_WINDOW);
    if (!values || values->empty() || (*values)[0] == XCB_NONE) {
        return std::nullopt;
    }
    return (*values)[0];
}

std::optional<int32_t> windowOwnerPid(const XcbConnection& connection, const EwmhAtoms& atoms,
                                      xcb_window_t window) {
    if (const auto pid =
            pidFromValues(readProperty(connection.get(), window, atoms.wmPid, XCB_ATOM_CARDINAL))) {
        return pid;
    }
    return clientPid(connection, window);
}

// --- X11Desktop

struct X11Desktop::State {
    XcbConnection connection;
    EwmhAtoms atoms{connection.get()};
    bool hasXFixes = false;
    std::unique_ptr<QSocketNotifier> discardEvents;
};

X11Desktop::X11Desktop() : state_(std::make_unique<State>()) {
    xcb_connection_t* connection = state_->connection.get();
    if (connection == nullptr) {
        return;
    }
    // Nothing here asks for events, yet the server sends every client each MappingNotify
    // (every xmodmap, setxkbmap or button-map change): read and drop them as they come, or
    // they pile up for as long as the program runs.
    state_->discardEvents = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection),
                                                              QSocketNotifier::Read);
    QObject::connect(state_->discardEvents.get(), &QSocketNotifier::activated,
                     state_->discardEvents.get(), [this, connection] {
                         while (xcb_generic_event_t* event = xcb_poll_for_event(connection)) {
                             std::free(event);
                         }
                         if (xcb_connection_has_error(connection) != 0) {
                             state_->discardEvents->setEnabled(false);
                         }
                     });
    if (!state_->connection.has(xcb_xfixes_id)) {
        return;
    }
    // XFixes answers GetCursorImage only to a client that announced its version.
    const ReplyPtr<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
        connection, xcb_xfixes_query_version(connection, XCB_XFIXES_MAJOR_VERSION, 0), nullptr));
    state_->hasXFixes = version != nullptr && version->major_version >= 1;
}

X11Desktop::~X11Desktop() = default;

std::optional<CursorImage> X11Desktop::currentCursor(double devicePixelRatio) {
    xcb_connection_t* connection = state_->connection.get();
    if (connection == nullptr || !state_->hasXFixes) {
        return std::nullopt;
    }
    const ReplyPtr<xcb_xfixes_get_cursor_image_reply_t> reply(xcb_xfixes_get_cursor_image_reply(
        connection, xcb_xfixes_get_cursor_image(connection), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    const std::span<const uint32_t> pixels(
        xcb_xfixes_get_cursor_image_cursor_image(reply.get()),
        static_cast<std::size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(reply.get())));
    return cursorImageFromArgb(reply->width, reply->height, pixels, devicePixelRatio);
}

std::optional<int32_t> X11Desktop::activeApplicationPid() {
    const auto window = activeWindow(state_->connection, state_->atoms);
    if (!window) {
        return std::nullopt;
    }
    return windowOwnerPid(state_->connection, state_->atoms, *window);
}

std::optional<std::vector<WindowInfo>> X11Desktop::clientWindows() {
    xcb_connection_t* connection = state_->connection.get();
    const auto clients = readProperty(connection, state_->connection.root(),
                                      state_->atoms.clientList, XCB_ATOM_WINDOW);
    if (!clients) {
        return std::nullopt;
    }
    // All questions go out before the first answer is read: one round trip for the list.
    struct Pending {
        xcb_window_t window;
        xcb_get_window_attributes_cookie_t attributes;
        xcb_get_geometry_cookie_t geometry;
        xcb_translate_coordinates_cookie_t corner;
        xcb_get_property_cookie_t pid;
    };
    std::vector<Pending> pending;
    pending.reserve(clients->size());
    const xcb_window_t root = state_->connection.root();
    for (const xcb_window_t window : *clients) {
        pending.push_back(
            {window, xcb_get_window_attributes(connection, window),
             xcb_get_geometry(connection, window),
             xcb_translate_coordinates(connection, window, root, 0, 0),
             requestProperty(connection, window, state_->atoms.wmPid, XCB_ATOM_CARDINAL)});
    }
    const auto monitors = currentMonitors();
    std::vector<WindowInfo> windows;
    for (const Pending& request : pending) {
        const ReplyPtr<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(connection, request.attributes, nullptr));
        const ReplyPtr<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection, request.geometry, nullptr));
        const ReplyPtr<xcb_translate_coordinates_reply_t> corner(
            xcb_translate_coordinates_reply(connection, request.corner, nullptr));
        auto pid = pidFromValues(propertyValues(connection, request.pid, XCB_ATOM_CARDINAL));
        // A window that went away meanwhile, or one not on screen (minimised, on another
        // desktop), is no on-screen window.
        if (!attributes || !geometry || !corner ||
            attributes->map_state != XCB_MAP_STATE_VIEWABLE) {
            continue;
        }
        if (!pid) {
            pid = clientPid(state_->connection, request.window);
        }
        const QSize serverSize(geometry->width, geometry->height);
        const auto monitor = monitorOrFirst(centreOf(*geometry, *corner), monitors);
        const QSize size =
            monitor ? logicalSize(serverSize, monitors[*monitor].devicePixelRatio) : serverSize;
        windows.push_back({pid, Size{double(size.width()), double(size.height())}});
    }
    return windows;
}

std::optional<QRect> X11Desktop::activeWindowMonitor() {
    xcb_connection_t* connection = state_->connection.get();
    const auto window = activeWindow(state_->connection, state_->atoms);
    if (!window) {
        return std::nullopt;
    }
    const auto geometryCookie = xcb_get_geometry(connection, *window);
    const auto cornerCookie =
        xcb_translate_coordinates(connection, *window, state_->connection.root(), 0, 0);
    const ReplyPtr<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(connection, geometryCookie, nullptr));
    const ReplyPtr<xcb_translate_coordinates_reply_t> corner(
        xcb_translate_coordinates_reply(connection, cornerCookie, nullptr));
    if (!geometry || !corner) {
        return std::nullopt;
    }
    const auto monitors = currentMonitors();
    const auto monitor = monitorHolding(centreOf(*geometry, *corner), monitors);
    if (!monitor) {
        return std::nullopt;
    }
    return monitors[*monitor].geometry;
}

}  // namespace dovetrel::app
