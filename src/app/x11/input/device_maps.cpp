#include "app/x11/input/device_maps.h"

#include <xcb/xinput.h>

namespace dovetrel::app {

std::vector<uint8_t> readPointerMap(XConnection& connection) {
    xcb_connection_t* xcb = connection.get();
    if (xcb == nullptr) {
        return {};
    }
    const Reply<xcb_get_pointer_mapping_reply_t> reply(
        xcb_get_pointer_mapping_reply(xcb, xcb_get_pointer_mapping(xcb), nullptr));
    if (!reply) {
        return {};
    }
    const uint8_t* map = xcb_get_pointer_mapping_map(reply.get());
    return {map, map + xcb_get_pointer_mapping_map_length(reply.get())};
}

namespace {

std::optional<ModifierMap> modifierMapOf(const Reply<xcb_get_modifier_mapping_reply_t>& reply) {
    if (!reply) {
        return std::nullopt;
    }
    const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(reply.get());
    return ModifierMap{reply->keycodes_per_modifier,
                       {codes, codes + xcb_get_modifier_mapping_keycodes_length(reply.get())}};
}

}  // namespace

std::optional<ModifierMap> readModifierMap(XConnection& connection) {
    xcb_connection_t* xcb = connection.get();
    if (xcb == nullptr) {
        return std::nullopt;
    }
    return modifierMapOf(Reply<xcb_get_modifier_mapping_reply_t>(
        xcb_get_modifier_mapping_reply(xcb, xcb_get_modifier_mapping(xcb), nullptr)));
}

std::optional<KeyboardMap> readKeyboardMap(XConnection& connection) {
    xcb_connection_t* xcb = connection.get();
    if (xcb == nullptr) {
        return std::nullopt;
    }
    const xcb_setup_t* setup = xcb_get_setup(xcb);
    // Both asked before either answer is awaited: one round trip.
    const auto modifierCookie = xcb_get_modifier_mapping(xcb);
    const auto keyboardCookie = xcb_get_keyboard_mapping(
        xcb, setup->min_keycode, static_cast<uint8_t>(setup->max_keycode - setup->min_keycode + 1));
    auto modifiers = modifierMapOf(Reply<xcb_get_modifier_mapping_reply_t>(
        xcb_get_modifier_mapping_reply(xcb, modifierCookie, nullptr)));
    const Reply<xcb_get_keyboard_mapping_reply_t> keyboard(
        xcb_get_keyboard_mapping_reply(xcb, keyboardCookie, nullptr));
    if (!modifiers || !keyboard) {
        return std::nullopt;
    }
    const xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(keyboard.get());
    return KeyboardMap{
        std::move(*modifiers),
        setup->min_keycode,
        keyboard->keysyms_per_keycode,
        {keysyms, keysyms + xcb_get_keyboard_mapping_keysyms_length(keyboard.get())}};
}

std::array<uint64_t, RawInputTypes::kIdCount> readScrollValuators(XConnection& connection) {
    std::array<uint64_t, RawInputTypes::kIdCount> valuators{};
    xcb_connection_t* xcb = connection.get();
    if (xcb == nullptr) {
        return valuators;
    }
    const Reply<xcb_input_xi_query_device_reply_t> reply(xcb_input_xi_query_device_reply(
        xcb, xcb_input_xi_query_device(xcb, XCB_INPUT_DEVICE_ALL), nullptr));
    if (!reply) {
        return valuators;
    }
    for (auto device = xcb_input_xi_query_device_infos_iterator(reply.get()); device.rem > 0;
         xcb_input_xi_device_info_next(&device)) {
        const auto id = static_cast<std::size_t>(device.data->deviceid);
        if (id >= valuators.size()) {
            continue;
        }
        for (auto axis = xcb_input_xi_device_info_classes_iterator(device.data); axis.rem > 0;
             xcb_input_device_class_next(&axis)) {
            if (axis.data->type != XCB_INPUT_DEVICE_CLASS_TYPE_SCROLL) {
                continue;
            }
            const auto number =
                reinterpret_cast<const xcb_input_scroll_class_t*>(axis.data)->number;
            if (number < 64) {
                valuators[id] |= uint64_t{1} << number;
            }
        }
    }
    return valuators;
}

}  // namespace dovetrel::app
