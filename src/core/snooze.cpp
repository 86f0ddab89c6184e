// Pausing the guard for a while without touching the Enabled preference.
#include <cmath>

#include "core/app_delegate.h"
#include "core/status_menu.h"

namespace dovetrel {

std::string snoozeTimeLeftText(int64_t secondsLeft) {
    const int64_t minutes = secondsLeft / 60;
    const int64_t seconds = secondsLeft % 60;
    if (secondsLeft >= 60) {
        return std::to_string(minutes) + "m " + std::to_string(seconds) + "s";
    }
    return std::to_string(seconds) + "s";
}

void AppDelegate::snoozeSelected(const MenuItem& sender) {
    const double seconds = sender.tag * 60.0;
    snoozeEndDate = platform_.now() + seconds;
    dismissOverlay();
    updateMenuBarIcon();
    if (snoozeTimer) {
        snoozeTimer->invalidate();
    }
    snoozeTimer = platform_.scheduleTimer(seconds, false, weakly(&AppDelegate::cancelSnooze));
}

void AppDelegate::cancelSnoozeAction() {
    cancelSnooze();
}

void AppDelegate::cancelSnooze() {
    if (snoozeTimer) {
        snoozeTimer->invalidate();
        snoozeTimer = nullptr;
    }
    snoozeEndDate.reset();
    updateMenuBarIcon();
}

void AppDelegate::refreshSnoozeItem() {
    if (!snoozeMenuItem) {
        return;
    }
    if (!snoozeEndDate) {
        snoozeMenuItem->title = "Snooze";
        snoozeMenuItem->submenu = makeSnoozeChoicesMenu();
        return;
    }
    // Truncated toward zero: 299.99 seconds left reads as 4m 59s, never 5m 0s.
    const double left = std::trunc(*snoozeEndDate - platform_.now());
    if (!(left > 0)) {
        return;
    }
    snoozeMenuItem->submenu = makeCancelSnoozeMenu();
    snoozeMenuItem->title =
        "Snoozed \u2014 " + snoozeTimeLeftText(static_cast<int64_t>(left)) + " left";
}

}  // namespace dovetrel
