// Pausing the guard for a while without touching the Enabled preference.
#include <algorithm>
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
    armSnoozeTimer();
}

// The end date decides, not the timer: timers stand still while the machine sleeps, so the
// date is looked at again on waking, when the menu opens and at each firing.
void AppDelegate::armSnoozeTimer() {
    if (snoozeTimer) {
        snoozeTimer->invalidate();
        snoozeTimer = nullptr;
    }
    if (!snoozeEndDate) {
        return;
    }
    const double left = std::max(0.0, *snoozeEndDate - platform_.now());
    snoozeTimer = platform_.scheduleTimer(std::min(left, kSnoozeRecheckInterval), false,
                                          weakly(&AppDelegate::snoozeTimerFired));
}

void AppDelegate::snoozeTimerFired() {
    if (!endSnoozeIfDue()) {
        armSnoozeTimer();
    }
    // Panels that never say when they open the menu still see the time left and the end.
    refreshStatusMenu();
}

bool AppDelegate::endSnoozeIfDue() {
    if (!snoozeEndDate || platform_.now() < *snoozeEndDate) {
        return false;
    }
    cancelSnooze();
    return true;
}

void AppDelegate::systemDidWake() {
    if (endSnoozeIfDue()) {
        refreshStatusMenu();
    } else if (isSnoozed()) {
        armSnoozeTimer();
    }
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
