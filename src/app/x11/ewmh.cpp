#include "app/x11/ewmh.h"

#include <xcb/res.h>

#include <iterator>
#include <string_view>

namespace dovetrel::app {

EwmhAtoms::EwmhAtoms(const XConnection& connection) {
    xcb_connection_t* xcb = connection.get();
    if (xcb == nullptr) {
        return;
    }
    const auto intern = [xcb](std::string_view name) {
        return xcb_intern_atom(xcb, 0, static_cast<uint16_t>(name.size()), name.data());
    };
    // All asked before the first answer is read: one round trip.
    const xcb_intern_atom_cookie_t cookies[] = {
        intern("_NET_ACTIVE_WINDOW"), intern("_NET_CLIENT_LIST"), intern("_NET_CURRENT_DESKTOP"),
        intern("_NET_WM_PID")};
    xcb_atom_t* atoms[] = {&activeWindow, &clientList, &currentDesktop, &wmPid};
    for (std::size_t i = 0; i < std::size(cookies); ++i) {
        const Reply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(xcb, cookies[i], nullptr));
        *atoms[i] = reply ? reply->atom : XCB_NONE;
    }
}

xcb_get_property_cookie_t requestProperty(const XConnection& connection, xcb_window_t window,
                                          xcb_atom_t property, xcb_atom_t type) {
    // _NET_CLIENT_LIST is the only long one; a million windows is more than any desktop.
    return xcb_get_property(connection.get(), 0, window, property, type, 0, 1u << 20);
}

std::optional<std::vector<uint32_t>> readProperty(const XConnection& connection,
                                                  xcb_get_property_cookie_t cookie,
                                                  xcb_atom_t type) {
    if (!connection) {
        return std::nullopt;
    }
    const Reply<xcb_get_property_reply_t> reply(
        xcb_get_property_reply(connection.get(), cookie, nullptr));
    if (!reply || reply->type != type || reply->format != 32) {
        return std::nullopt;
    }
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(reply.get()));
    const int count = xcb_get_property_value_length(reply.get()) / 4;
    return std::vector<uint32_t>(values, values + count);
}

std::optional<std::vector<uint32_t>> readProperty(const XConnection& connection,
                                                  xcb_window_t window, xcb_atom_t property,
                                                  xcb_atom_t type) {
    if (!connection || property == XCB_NONE) {
        return std::nullopt;
    }
    return readProperty(connection, requestProperty(connection, window, property, type), type);
}

std::optional<xcb_window_t> activeWindow(const XConnection& connection, const EwmhAtoms& atoms) {
    const auto values =
        readProperty(connection, connection.root(), atoms.activeWindow, XCB_ATOM_WINDOW);
    if (!values || values->empty() || (*values)[0] == XCB_NONE) {
        return std::nullopt;
    }
    return (*values)[0];
}

std::optional<int32_t> pidFromValues(const std::optional<std::vector<uint32_t>>& values) {
    if (!values || values->empty() || (*values)[0] == 0) {
        return std::nullopt;
    }
    return static_cast<int32_t>((*values)[0]);
}

std::optional<int32_t> clientPid(const XConnection& connection, xcb_window_t window) {
    if (!connection.has(xcb_res_id)) {
        return std::nullopt;
    }
    xcb_connection_t* xcb = connection.get();
    const xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
    const Reply<xcb_res_query_client_ids_reply_t> reply(
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

std::optional<int32_t> windowOwnerPid(const XConnection& connection, const EwmhAtoms& atoms,
                                      xcb_window_t window) {
    if (const auto pid =
            pidFromValues(readProperty(connection, window, atoms.wmPid, XCB_ATOM_CARDINAL))) {
        return pid;
    }
    return clientPid(connection, window);
}

}  // namespace dovetrel::app
