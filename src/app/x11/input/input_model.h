// How X input maps onto the core's words: which buttons are presses, which modifier bits count
// as held, which press type a button is, which core event types a raw event stands for. Pure,
// so that every rule is tested without a server.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace dovetrel::app {

// Buttons 4 to 7 are the wheel: a scroll is not a press, and is never held.
bool isWheelButton(unsigned button);

// The buttons the guard grabs: every logical button the pointer map can produce but the wheel,
// and 1 to 3 whatever the map says (`pointerMap[physical - 1]` is the logical button).
std::vector<uint8_t> guardedButtons(std::span<const uint8_t> pointerMap);

// Which keys each of the 8 modifier bits is bound to.
struct ModifierMap {
    unsigned keycodesPerModifier = 0;
    std::vector<uint8_t> keycodes;  // keycodesPerModifier for each bit, 0 for none
};

// The keyboard as the server maps it: enough to tell which modifier bits only lock.
struct KeyboardMap {
    ModifierMap modifiers;
    unsigned minKeycode = 8;
    unsigned keysymsPerKeycode = 0;
    std::vector<uint32_t> keysyms;  // keysymsPerKeycode for each keycode from minKeycode on
};

// The modifier bits that count as lock-style, and so never as a held modifier: of Lock, Mod2,
// Mod3 and Mod5, those bound to nothing or only to keys that lock (Caps, Shift, Num and Scroll
// Lock). A bit bound to anything else (AltGr's ISO_Level3_Shift, Mode_switch, a Hyper key) is
// held like Alt. Without a map, the usual layout: Lock, Mod2 and Mod3.
uint16_t lockStyleModifiers(const std::optional<KeyboardMap>& map);

// Every mix of the bits in `lockStyle`, none included. A grab is made under each: a press
// carries the lock bits that are on, and a grab matches its modifiers exactly.
std::vector<uint16_t> grabMixes(uint16_t lockStyle);

// The core's modifier flags for an X modifier state: Shift, Control, Alt (Mod1) and Super
// (Mod4) always count, a mapped bit that is not lock-style (AltGr) counts as Alt.
uint64_t coreFlags(uint16_t state, uint16_t lockStyle);

// The core's press type of a logical button.
uint32_t pressType(uint8_t button);

// The keycodes that are bound to some modifier.
std::bitset<256> modifierKeys(const ModifierMap& map);

// Raw events as the input monitor reads them.
enum class RawInput { motion, buttonPress, buttonRelease, keyPress, keyRelease, pinch, swipe };

// The raw event an XInput 2 event type stands for; nullopt for the others.
std::optional<RawInput> rawInputOf(int xinputEventType);

// Turns raw events into the core's event types, keeping which buttons are down so that motion
// with one held counts as a drag.
class RawInputTypes {
  public:
    static constexpr std::size_t kIdCount = 256;  // keycodes, buttons and device ids beyond
                                                  // this are ignored

    RawInputTypes();

    // `pointerMap[physical - 1]` is the logical button; raw events carry the physical one. A
    // release under a new map could name another button than its press did: held buttons
    // are forgotten.
    void setPointerMap(std::span<const uint8_t> pointerMap);
    void setModifierKeys(const std::bitset<kIdCount>& keys) { modifierKeys_ = keys; }
    // By device id: bit n set when valuator n is a smooth-scroll axis. A device that went away
    // took the releases of its buttons with it: held buttons are forgotten.
    void setScrollValuators(const std::array<uint64_t, kIdCount>& valuators);
    // The logical buttons down now, for events read from now on.
    void setHeldButtons(const std::bitset<kIdCount>& held) { heldButtons_ = held; }

    // The core event types (bit n = type n) of one raw event. `detail` is the button or
    // keycode, `sourceId` the device that made it, `valuators` its valuator mask.
    uint64_t typesOf(RawInput input, int detail = 0, int sourceId = 0,
                     std::span<const uint8_t> valuators = {});

  private:
    uint64_t typesOfMotion(int sourceId, std::span<const uint8_t> valuators) const;
    uint32_t movementType() const;

    std::array<uint8_t, kIdCount> logicalButtons_{};
    std::bitset<kIdCount> heldButtons_;
    std::bitset<kIdCount> modifierKeys_;
    std::array<uint64_t, kIdCount> scrollValuators_{};
};

}  // namespace dovetrel::app
