// The server's maps of the input devices, read afresh whenever they may have changed: the
// pointer's button map, the keyboard's modifier and key maps, and which valuators scroll.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "app/x11/connection.h"
#include "app/x11/input/input_model.h"

namespace dovetrel::app {

// map[physical - 1] is the logical button; as long as the core pointer has buttons (10 on
// Xvfb). Empty when the server does not answer.
std::vector<uint8_t> readPointerMap(XConnection& connection);

// nullopt when the server does not answer.
std::optional<ModifierMap> readModifierMap(XConnection& connection);
std::optional<KeyboardMap> readKeyboardMap(XConnection& connection);

// By device id: bit n set when valuator n of that device is a smooth-scroll axis. All clear
// when the server does not answer.
std::array<uint64_t, RawInputTypes::kIdCount> readScrollValuators(XConnection& connection);

}  // namespace dovetrel::app
