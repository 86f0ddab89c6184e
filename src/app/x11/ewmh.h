// What the window manager tells through EWMH root and window properties: the active window,
// the client list, the current desktop, and which process owns a window.
#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "app/x11/connection.h"

namespace dovetrel::app {

struct EwmhAtoms {
    xcb_atom_t activeWindow = XCB_NONE;
    xcb_atom_t clientList = XCB_NONE;
    xcb_atom_t currentDesktop = XCB_NONE;
    xcb_atom_t wmPid = XCB_NONE;

    explicit EwmhAtoms(const XConnection& connection);
};

// Asks for a window's property of `type`; the answer comes with readProperty(cookie).
xcb_get_property_cookie_t requestProperty(const XConnection& connection, xcb_window_t window,
                                          xcb_atom_t property, xcb_atom_t type);
// The 32-bit values of a property asked for with requestProperty(); nullopt when the window
// or the property is missing.
std::optional<std::vector<uint32_t>> readProperty(const XConnection& connection,
                                                  xcb_get_property_cookie_t cookie,
                                                  xcb_atom_t type);
// Both at once.
std::optional<std::vector<uint32_t>> readProperty(const XConnection& connection,
                                                  xcb_window_t window, xcb_atom_t property,
                                                  xcb_atom_t type);

// _NET_ACTIVE_WINDOW; nullopt without an EWMH window manager or without an active window.
std::optional<xcb_window_t> activeWindow(const XConnection& connection, const EwmhAtoms& atoms);

// The first value of a _NET_WM_PID answer; nullopt when there is none.
std::optional<int32_t> pidFromValues(const std::optional<std::vector<uint32_t>>& values);
// The pid of the client that created `window`, as the server knows it (X-Resource).
std::optional<int32_t> clientPid(const XConnection& connection, xcb_window_t window);
// The process that owns `window`: its _NET_WM_PID, else what the server knows of the client
// that created it. nullopt when neither tells.
std::optional<int32_t> windowOwnerPid(const XConnection& connection, const EwmhAtoms& atoms,
                                      xcb_window_t window);

}  // namespace dovetrel::app
