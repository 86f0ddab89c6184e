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

#include "app/qt/screen_geometry.h"
#include "app/x11/connection.h"
#include "app/x11/ewmh.h"

namespace dovetrel::app {
namespace {

void appendWord(std::vector<uint8_t>& bytes, uint32_t word) {
    for (int shift = 0; shift < 32; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(word >> shift));
    }
}

// A window's centre in root-window pixels.
QPoint centreOf(const QRect& window) {
    return window.topLeft() + QPoint(window.width() / 2, window.height() / 2);
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

// --- X11Desktop

struct X11Desktop::State {
    XConnection connection = XConnection::toQtServer();
    EwmhAtoms atoms{connection};
    std::optional<uint8_t> cursorNotify;  // the XFixes event that the pointer's image changed
    std::unique_ptr<QSocketNotifier> events;
    // The pointer's image as last read, until the server says it changed.
    std::optional<CursorImage> cursor;
    double cursorRatio = 0;

    // Reads what has come; only a change of the pointer's image matters. The server also sends
    // every client each MappingNotify (every xmodmap or setxkbmap): read, they would otherwise
    // pile up for as long as the program runs.
    void drain(xcb_generic_event_t* (*next)(xcb_connection_t*)) {
        xcb_connection_t* xcb = connection.get();
        while (xcb != nullptr) {
            const Reply<xcb_generic_event_t> event(next(xcb));
            if (!event) {
                break;
            }
            if (cursorNotify && (event->response_type & 0x7f) == *cursorNotify) {
                cursor.reset();
            }
        }
    }
};

X11Desktop::X11Desktop() : state_(std::make_unique<State>()) {
    State& state = *state_;
    xcb_connection_t* connection = state.connection.get();
    if (connection == nullptr) {
        return;
    }
    state.events = std::make_unique<QSocketNotifier>(xcb_get_file_descriptor(connection),
                                                     QSocketNotifier::Read);
    QObject::connect(state.events.get(), &QSocketNotifier::activated, state.events.get(), [&state] {
        state.drain(xcb_poll_for_event);
        if (!state.connection) {
            state.events->setEnabled(false);
        }
    });
    const auto version = state.connection.announceXFixes({XCB_XFIXES_MAJOR_VERSION, 0});
    if (version && version->major >= 1) {
        // Told of every change of the pointer's image, the square's check while it is up asks
        // the server nothing about it.
        xcb_xfixes_select_cursor_input(connection, state.connection.root(),
                                       XCB_XFIXES_CURSOR_NOTIFY_MASK_DISPLAY_CURSOR);
        state.cursorNotify =
            uint8_t(xcb_get_extension_data(connection, &xcb_xfixes_id)->first_event +
                    XCB_XFIXES_CURSOR_NOTIFY);
        xcb_flush(connection);
    }
}

X11Desktop::~X11Desktop() = default;

bool X11Desktop::hasOtherScreens() const {
    xcb_connection_t* connection = state_->connection.get();
    return connection != nullptr && xcb_setup_roots_length(xcb_get_setup(connection)) > 1;
}

bool X11Desktop::pointerIsOnOwnScreen() {
    xcb_connection_t* connection = state_->connection.get();
    if (connection == nullptr) {
        return true;
    }
    const Reply<xcb_query_pointer_reply_t> reply(xcb_query_pointer_reply(
        connection, xcb_query_pointer(connection, state_->connection.root()), nullptr));
    return !reply || reply->same_screen != 0;
}

std::optional<CursorImage> X11Desktop::currentCursor(double devicePixelRatio) {
    State& state = *state_;
    xcb_connection_t* connection = state.connection.get();
    if (connection == nullptr || !state.cursorNotify) {
        return std::nullopt;
    }
    // A notice read with another reply waits in xcb's queue, where the socket does not show.
    state.drain(xcb_poll_for_queued_event);
    if (state.cursor && state.cursorRatio == devicePixelRatio) {
        return state.cursor;
    }
    const Reply<xcb_xfixes_get_cursor_image_reply_t> reply(xcb_xfixes_get_cursor_image_reply(
        connection, xcb_xfixes_get_cursor_image(connection), nullptr));
    if (!reply) {
        return std::nullopt;
    }
    const std::span<const uint32_t> pixels(
        xcb_xfixes_get_cursor_image_cursor_image(reply.get()),
        static_cast<std::size_t>(xcb_xfixes_get_cursor_image_cursor_image_length(reply.get())));
    state.cursor = cursorImageFromArgb(reply->width, reply->height, pixels, devicePixelRatio);
    state.cursorRatio = devicePixelRatio;
    return state.cursor;
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
    const auto clients = readProperty(state_->connection, state_->connection.root(),
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
             requestProperty(state_->connection, window, state_->atoms.wmPid, XCB_ATOM_CARDINAL)});
    }
    const auto monitors = currentMonitors();
    std::vector<WindowInfo> windows;
    for (const Pending& request : pending) {
        const Reply<xcb_get_window_attributes_reply_t> attributes(
            xcb_get_window_attributes_reply(connection, request.attributes, nullptr));
        const Reply<xcb_get_geometry_reply_t> geometry(
            xcb_get_geometry_reply(connection, request.geometry, nullptr));
        const Reply<xcb_translate_coordinates_reply_t> corner(
            xcb_translate_coordinates_reply(connection, request.corner, nullptr));
        auto pid = pidFromValues(readProperty(state_->connection, request.pid, XCB_ATOM_CARDINAL));
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
        const auto monitor = monitorOrFirst(
            centreOf(QRect(corner->dst_x, corner->dst_y, geometry->width, geometry->height)),
            monitors);
        const QSize size =
            monitor ? logicalSize(serverSize, monitors[*monitor].devicePixelRatio) : serverSize;
        windows.push_back({pid, Size{double(size.width()), double(size.height())}});
    }
    return windows;
}

std::optional<QRect> X11Desktop::activeWindowMonitor() {
    const auto window = activeWindow(state_->connection, state_->atoms);
    const auto rect =
        window ? windowRectOnRoot(state_->connection.get(), *window, state_->connection.root())
               : std::nullopt;
    if (!rect) {
        return std::nullopt;
    }
    const auto monitors = currentMonitors();
    const auto monitor = monitorHolding(centreOf(*rect), monitors);
    if (!monitor) {
        return std::nullopt;
    }
    return monitors[*monitor].geometry;
}

}  // namespace dovetrel::app
