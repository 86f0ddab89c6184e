// The click guard's decision about one mouse-button press.
#pragma once

#include <cstdint>
#include <optional>

#include "core/geometry.h"

namespace dovetrel {

// The press types the tap reports, and the mask of all three.
inline constexpr uint32_t kLeftMouseDown = 1;
inline constexpr uint32_t kRightMouseDown = 3;
inline constexpr uint32_t kOtherMouseDown = 25;
inline constexpr uint64_t kTapEventMask = 0x200000A;
// Pseudo event types sent when the system switched the tap off by itself.
inline constexpr uint32_t kTapDisabledByTimeout = 0xFFFFFFFE;
inline constexpr uint32_t kTapDisabledByUserInput = 0xFFFFFFFF;
// Shift 0x20000 + Control 0x40000 + Option/Alt 0x80000 + Command/Super 0x100000. Caps Lock
// (0x10000) and the other lock-style flags do not count.
inline constexpr uint64_t kModifierMask = 0x1E0000;
inline constexpr uint64_t kShiftFlag = 0x20000;
inline constexpr uint64_t kControlFlag = 0x40000;
inline constexpr uint64_t kOptionFlag = 0x80000;
inline constexpr uint64_t kCommandFlag = 0x100000;
inline constexpr uint64_t kCapsLockFlag = 0x10000;

// Everything a press is judged by, as the main thread last saw it.
struct ClickGuardSnapshot {
    bool guardOn = false;
    bool overlayVisible = false;
    Rect overlayFrame;                          // window coordinates
    std::optional<double> primaryScreenHeight;  // nullopt when there is no screen list
};

enum class PressVerdict {
    pass,            // the guard has nothing to say about this press
    passAndDismiss,  // let it through and take the overlay down
    dropAndDismiss,  // swallow it and take the overlay down
};

// Decides a press at `tapLocation` (tap coordinates) with modifier `flags`. Pure, so that it
// can run on whichever thread must answer the press.
PressVerdict decidePress(const ClickGuardSnapshot& snapshot, Point tapLocation, uint64_t flags);

}  // namespace dovetrel
