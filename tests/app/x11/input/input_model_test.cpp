#include "app/x11/input/input_model.h"

#include <gtest/gtest.h>
#include <xcb/xinput.h>
#include <xcb/xproto.h>

#include "core/app_delegate.h"
#include "core/click_guard.h"

namespace dovetrel::app {
namespace {

constexpr uint16_t kLock = XCB_MOD_MASK_LOCK;
constexpr uint16_t kMod2 = XCB_MOD_MASK_2;
constexpr uint16_t kMod3 = XCB_MOD_MASK_3;
constexpr uint16_t kMod5 = XCB_MOD_MASK_5;

constexpr uint64_t bit(uint32_t type) {
    return uint64_t{1} << type;
}

// A keyboard of one symbol a key from keycode 10 on, and the keys each modifier bit holds.
KeyboardMap keyboard(std::vector<uint32_t> keysyms, std::vector<std::vector<uint8_t>> bound) {
    KeyboardMap map{{2, std::vector<uint8_t>(16, 0)}, 10, 1, std::move(keysyms)};
    for (std::size_t modifier = 0; modifier < bound.size(); ++modifier) {
        for (std::size_t k = 0; k < bound[modifier].size(); ++k) {
            map.modifiers.keycodes[modifier * 2 + k] = bound[modifier][k];
        }
    }
    return map;
}

TEST(InputModel, LockStyleModifiersAreThoseBoundOnlyToLocksOrToNothing) {
    // Keys 10 Hyper_L, 11 Num_Lock, 12 ISO_Level3_Shift, 13 Caps_Lock, 14 Scroll_Lock,
    // 15 Shift_L, 16 without a symbol.
    const std::vector<uint32_t> keys{0xffed, 0xff7f, 0xfe03, 0xffe5, 0xff14, 0xffe1, 0};
    const struct {
        const char* name;
        std::vector<std::vector<uint8_t>> bound;  // Shift, Lock, Control, Mod1 ... Mod5
        uint16_t expected;
    } cases[] = {
        {"usual layout: Caps, Num Lock, AltGr",
         {{15}, {13}, {}, {}, {11}, {}, {}, {12}},
         kLock | kMod2 | kMod3},
        {"Hyper on Mod3 is held", {{}, {13}, {}, {}, {11}, {10}, {}, {12}}, kLock | kMod2},
        {"Scroll Lock on Mod5 locks",
         {{}, {13}, {}, {}, {11}, {}, {}, {14}},
         kLock | kMod2 | kMod3 | kMod5},
        {"a lock and a held key on one bit",
         {{}, {13, 10}, {}, {}, {}, {}, {}, {}},
         kMod2 | kMod3 | kMod5},
        {"a key without a symbol does nothing held",
         {{}, {16}, {}, {}, {}, {}, {}, {12}},
         kLock | kMod2 | kMod3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(lockStyleModifiers(keyboard(keys, c.bound)), c.expected) << c.name;
    }
    EXPECT_EQ(lockStyleModifiers(std::nullopt), kLock | kMod2 | kMod3);
}

TEST(InputModel, OnlyShiftControlAltSuperAndNonLockBitsCountAsHeld) {
    const uint16_t usual = kLock | kMod2 | kMod3;
    const struct {
        uint16_t state;
        uint16_t lockStyle;
        uint64_t expected;
    } cases[] = {
        {XCB_MOD_MASK_SHIFT, usual, kShiftFlag},
        {XCB_MOD_MASK_CONTROL, usual, kControlFlag},
        {XCB_MOD_MASK_1, usual, kOptionFlag},
        {XCB_MOD_MASK_4, usual, kCommandFlag},
        {kMod5, usual, kOptionFlag},  // AltGr
        {kLock, usual, kCapsLockFlag},
        {kMod2 | kMod3, usual, 0},
        {kMod3, kLock | kMod2, kOptionFlag},  // a Hyper key there
        {kLock, kMod2, kOptionFlag},
        {XCB_MOD_MASK_SHIFT | kLock | kMod2, usual, kShiftFlag | kCapsLockFlag},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(coreFlags(c.state, c.lockStyle), c.expected) << c.state << " " << c.lockStyle;
    }
}

TEST(InputModel, GrabsEveryButtonButTheWheelUnderEveryMixOfTheLocks) {
    const std::vector<uint8_t> xvfb{1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(guardedButtons(xvfb), (std::vector<uint8_t>{1, 2, 3, 8, 9, 10}));
    // Left-handed, a button switched off, a side button moved onto the wheel.
    EXPECT_EQ(guardedButtons(std::vector<uint8_t>{3, 0, 1, 4, 5, 6, 7, 4}),
              (std::vector<uint8_t>{1, 2, 3}));
    EXPECT_EQ(guardedButtons({}), (std::vector<uint8_t>{1, 2, 3}));

    EXPECT_EQ(grabMixes(kLock | kMod2), (std::vector<uint16_t>{kLock | kMod2, kMod2, kLock, 0}));
    EXPECT_EQ(grabMixes(kLock | kMod2 | kMod3 | kMod5).size(), 16u);
    EXPECT_EQ(grabMixes(0), (std::vector<uint16_t>{0}));

    EXPECT_EQ(pressType(1), kLeftMouseDown);
    EXPECT_EQ(pressType(3), kRightMouseDown);
    EXPECT_EQ(pressType(2), kOtherMouseDown);
    EXPECT_EQ(pressType(9), kOtherMouseDown);
}

TEST(InputModel, RawEventsBecomeTheCoreTypesTheyStandFor) {
    using enum RawInput;
    EXPECT_EQ(rawInputOf(XCB_INPUT_RAW_KEY_RELEASE), keyRelease);
    EXPECT_EQ(rawInputOf(XCB_INPUT_GESTURE_SWIPE_END), swipe);
    EXPECT_EQ(rawInputOf(XCB_INPUT_HIERARCHY), std::nullopt);
    RawInputTypes types;
    types.setModifierKeys(modifierKeys({1, {50, 0, 0, 0, 0, 0, 0, 0}}));  // Shift_L is 50
    EXPECT_EQ(types.typesOf(keyPress, 38), bit(eventtype::kKeyDown));
    EXPECT_EQ(types.typesOf(keyRelease, 38), 0u);
    EXPECT_EQ(types.typesOf(keyPress, 50), bit(eventtype::kFlagsChanged));
    EXPECT_EQ(types.typesOf(keyRelease, 50), bit(eventtype::kFlagsChanged));
    EXPECT_EQ(types.typesOf(keyPress, 300), bit(eventtype::kKeyDown));
    EXPECT_EQ(types.typesOf(pinch), bit(eventtype::kMagnify));
    EXPECT_EQ(types.typesOf(swipe), bit(eventtype::kSwipe));

    // The wheel scrolls on its press only; other buttons turn motion into a drag.
    EXPECT_EQ(types.typesOf(buttonPress, 4), bit(eventtype::kScrollWheel));
    EXPECT_EQ(types.typesOf(buttonRelease, 7), 0u);
    EXPECT_EQ(types.typesOf(motion), bit(eventtype::kMouseMoved));
    for (const auto& [button, dragged] :
         {std::pair{1, eventtype::kLeftMouseDragged}, std::pair{3, eventtype::kRightMouseDragged},
          std::pair{8, eventtype::kOtherMouseDragged}}) {
        EXPECT_EQ(types.typesOf(buttonPress, button), 0u);
        EXPECT_EQ(types.typesOf(motion), bit(dragged)) << button;
        types.typesOf(buttonRelease, button);
    }
    EXPECT_EQ(types.typesOf(motion), bit(eventtype::kMouseMoved));

    // Raw events carry the physical button: left-handed, the first is the right one. A new
    // map forgets the buttons held under the old one.
    types.setPointerMap(std::vector<uint8_t>{3, 2, 1, 5, 4});
    types.typesOf(buttonPress, 1);
    EXPECT_EQ(types.typesOf(motion), bit(eventtype::kRightMouseDragged));
    EXPECT_EQ(types.typesOf(buttonPress, 4), bit(eventtype::kScrollWheel));
    types.setPointerMap({});
    EXPECT_EQ(types.typesOf(motion), bit(eventtype::kMouseMoved));
    // A button switched off in the map presses nothing.
    types.setPointerMap(std::vector<uint8_t>{1, 0});
    types.typesOf(buttonPress, 2);
    EXPECT_EQ(types.typesOf(motion), bit(eventtype::kMouseMoved));

    // Device 11 scrolls smoothly on valuators 2 and 11, device 12 on valuator 0 alone; their
    // other valuators move.
    std::array<uint64_t, RawInputTypes::kIdCount> scroll{};
    scroll[11] = 0b1000'0000'0100;
    scroll[12] = 1;
    types.setScrollValuators(scroll);
    const uint8_t scrollOnly[] = {0b0100, 0b1000};
    const uint8_t scrollAndMove[] = {0b0001, 0b1000};
    const uint64_t both = bit(eventtype::kScrollWheel) | bit(eventtype::kMouseMoved);
    EXPECT_EQ(types.typesOf(motion, 0, 11, scrollOnly), bit(eventtype::kScrollWheel));
    EXPECT_EQ(types.typesOf(motion, 0, 11, scrollAndMove), both);
    EXPECT_EQ(types.typesOf(motion, 0, 12, scrollAndMove), both);
    EXPECT_EQ(types.typesOf(motion, 0, 13, scrollOnly), bit(eventtype::kMouseMoved));
}

}  // namespace
}  // namespace dovetrel::app
