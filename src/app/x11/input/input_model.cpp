#include "app/x11/input/input_model.h"

#include <xcb/xinput.h>
#include <xcb/xproto.h>

#include <algorithm>
#include <bit>
#include <set>

#include "core/app_delegate.h"
#include "core/click_guard.h"

namespace dovetrel::app {
namespace {

constexpr unsigned kFirstWheelButton = 4;
constexpr unsigned kLastWheelButton = 7;

// The modifier bits whose meaning the keyboard map decides.
constexpr std::array<uint16_t, 4> kMappedModifiers = {XCB_MOD_MASK_LOCK, XCB_MOD_MASK_2,
                                                      XCB_MOD_MASK_3, XCB_MOD_MASK_5};

// Keys that switch a lock on or off rather than being held with a click.
constexpr std::array<uint32_t, 4> kLockKeysyms = {0xffe5 /* Caps_Lock */, 0xffe6 /* Shift_Lock */,
                                                  0xff7f /* Num_Lock */, 0xff14 /* Scroll_Lock */};

constexpr uint64_t typeBit(uint32_t type) {
    return uint64_t{1} << type;
}

// Whether holding the key with `keycode` does nothing but lock: its first symbol is a lock, or
// it has none.
bool onlyLocks(const KeyboardMap& map, unsigned keycode) {
    if (keycode < map.minKeycode) {
        return true;
    }
    const std::size_t first = (keycode - map.minKeycode) * std::size_t{map.keysymsPerKeycode};
    const std::size_t end = std::min(first + map.keysymsPerKeycode, map.keysyms.size());
    for (std::size_t i = first; i < end; ++i) {
        if (map.keysyms[i] != 0) {
            return std::find(kLockKeysyms.begin(), kLockKeysyms.end(), map.keysyms[i]) !=
                   kLockKeysyms.end();
        }
    }
    return true;
}

}  // namespace

bool isWheelButton(unsigned button) {
    return button >= kFirstWheelButton && button <= kLastWheelButton;
}

std::vector<uint8_t> guardedButtons(std::span<const uint8_t> pointerMap) {
    // No other button can be pressed. The map is read again on each enable, so a mouse with
    // more buttons plugged in meanwhile is covered.
    std::set<uint8_t> buttons = {1, 2, 3};
    for (const uint8_t button : pointerMap) {
        if (button != 0 && !isWheelButton(button)) {
            buttons.insert(button);
        }
    }
    return {buttons.begin(), buttons.end()};
}

uint16_t lockStyleModifiers(const std::optional<KeyboardMap>& map) {
    if (!map || map->keysymsPerKeycode == 0) {
        return XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2 | XCB_MOD_MASK_3;
    }
    const ModifierMap& modifiers = map->modifiers;
    uint16_t lockStyle = 0;
    for (const uint16_t bit : kMappedModifiers) {
        const std::size_t first =
            std::size_t(std::countr_zero(bit)) * modifiers.keycodesPerModifier;
        bool locksOnly = true;
        for (std::size_t k = first;
             k < first + modifiers.keycodesPerModifier && k < modifiers.keycodes.size(); ++k) {
            const uint8_t code = modifiers.keycodes[k];
            locksOnly = locksOnly && (code == 0 || onlyLocks(*map, code));
        }
        lockStyle |= locksOnly ? bit : 0;
    }
    return lockStyle;
}

std::vector<uint16_t> grabMixes(uint16_t lockStyle) {
    std::vector<uint16_t> mixes;
    // Counting down through the submasks of lockStyle visits each mix once.
    for (uint16_t mix = lockStyle;; mix = static_cast<uint16_t>((mix - 1) & lockStyle)) {
        mixes.push_back(mix);
        if (mix == 0) {
            return mixes;
        }
    }
}

uint64_t coreFlags(uint16_t state, uint16_t lockStyle) {
    uint64_t flags = 0;
    flags |= (state & XCB_MOD_MASK_SHIFT) != 0 ? kShiftFlag : 0;
    flags |= (state & XCB_MOD_MASK_CONTROL) != 0 ? kControlFlag : 0;
    flags |= (state & XCB_MOD_MASK_1) != 0 ? kOptionFlag : 0;
    flags |= (state & XCB_MOD_MASK_4) != 0 ? kCommandFlag : 0;
    flags |= (state & XCB_MOD_MASK_LOCK & lockStyle) != 0 ? kCapsLockFlag : 0;
    for (const uint16_t bit : kMappedModifiers) {
        flags |= (state & bit & ~lockStyle) != 0 ? kOptionFlag : 0;
    }
    return flags;
}

uint32_t pressType(uint8_t button) {
    switch (button) {
        case 1:
            return kLeftMouseDown;
        case 3:
            return kRightMouseDown;
        default:
            return kOtherMouseDown;
    }
}

std::bitset<256> modifierKeys(const ModifierMap& map) {
    std::bitset<256> keys;
    for (const uint8_t code : map.keycodes) {
        if (code != 0) {
            keys.set(code);
        }
    }
    return keys;
}

std::optional<RawInput> rawInputOf(int xinputEventType) {
    switch (xinputEventType) {
        case XCB_INPUT_RAW_MOTION:
            return RawInput::motion;
        case XCB_INPUT_RAW_BUTTON_PRESS:
            return RawInput::buttonPress;
        case XCB_INPUT_RAW_BUTTON_RELEASE:
            return RawInput::buttonRelease;
        case XCB_INPUT_RAW_KEY_PRESS:
            return RawInput::keyPress;
        case XCB_INPUT_RAW_KEY_RELEASE:
            return RawInput::keyRelease;
        case XCB_INPUT_GESTURE_PINCH_BEGIN:
        case XCB_INPUT_GESTURE_PINCH_UPDATE:
        case XCB_INPUT_GESTURE_PINCH_END:
            return RawInput::pinch;
        case XCB_INPUT_GESTURE_SWIPE_BEGIN:
        case XCB_INPUT_GESTURE_SWIPE_UPDATE:
        case XCB_INPUT_GESTURE_SWIPE_END:
            return RawInput::swipe;
        default:
            return std::nullopt;
    }
}

RawInputTypes::RawInputTypes() {
    setPointerMap({});
}

void RawInputTypes::setPointerMap(std::span<const uint8_t> pointerMap) {
    heldButtons_.reset();
    for (std::size_t button = 0; button < logicalButtons_.size(); ++button) {
        logicalButtons_[button] = static_cast<uint8_t>(button);
    }
    for (std::size_t i = 0; i < pointerMap.size() && i + 1 < logicalButtons_.size(); ++i) {
        logicalButtons_[i + 1] = pointerMap[i];
    }
}

void RawInputTypes::setScrollValuators(const std::array<uint64_t, kIdCount>& valuators) {
    heldButtons_.reset();
    scrollValuators_ = valuators;
}

uint64_t RawInputTypes::typesOf(RawInput input, int detail, int sourceId,
                                std::span<const uint8_t> valuators) {
    const bool knownId = detail >= 0 && detail < int(kIdCount);
    const auto id = static_cast<std::size_t>(knownId ? detail : 0);
    switch (input) {
        case RawInput::motion:
            return typesOfMotion(sourceId, valuators);
        case RawInput::buttonPress:
        case RawInput::buttonRelease: {
            const unsigned button = logicalButtons_[id];
            if (!knownId || button == 0) {
                return 0;
            }
            if (isWheelButton(button)) {
                return input == RawInput::buttonPress ? typeBit(eventtype::kScrollWheel) : 0;
            }
            // Other presses are the click guard's; here they only turn motion into a drag.
            heldButtons_.set(button, input == RawInput::buttonPress);
            return 0;
        }
        case RawInput::keyPress:
            return typeBit(knownId && modifierKeys_.test(id) ? eventtype::kFlagsChanged
                                                             : eventtype::kKeyDown);
        case RawInput::keyRelease:
            return knownId && modifierKeys_.test(id) ? typeBit(eventtype::kFlagsChanged) : 0;
        // The core's own names for the two gestures: a pinch magnifies, a swipe swipes.
        case RawInput::pinch:
            return typeBit(eventtype::kMagnify);
        case RawInput::swipe:
            return typeBit(eventtype::kSwipe);
    }
    return 0;
}

uint64_t RawInputTypes::typesOfMotion(int sourceId, std::span<const uint8_t> valuators) const {
    const uint64_t scroll = sourceId >= 0 && sourceId < int(kIdCount)
                                ? scrollValuators_[static_cast<std::size_t>(sourceId)]
                                : 0;
    bool moved = scroll == 0;
    bool scrolled = false;
    // Raw valuators keep the numbering of the device that produced them.
    for (std::size_t byte = 0; scroll != 0 && byte < valuators.size(); ++byte) {
        for (unsigned bits = valuators[byte]; bits != 0; bits &= bits - 1) {
            const std::size_t number = byte * 8 + std::size_t(std::countr_zero(bits));
            if (number < 64 && ((scroll >> number) & 1) != 0) {
                scrolled = true;
            } else {
                moved = true;
            }
        }
    }
    uint64_t types = scrolled ? typeBit(eventtype::kScrollWheel) : 0;
    if (moved || !scrolled) {
        types |= typeBit(movementType());
    }
    return types;
}

uint32_t RawInputTypes::movementType() const {
    if (heldButtons_.none()) {
        return eventtype::kMouseMoved;
    }
    if (heldButtons_.test(1)) {
        return eventtype::kLeftMouseDragged;
    }
    if (heldButtons_.test(3)) {
        return eventtype::kRightMouseDragged;
    }
    return eventtype::kOtherMouseDragged;
}

}  // namespace dovetrel::app
