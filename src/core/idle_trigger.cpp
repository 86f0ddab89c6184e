// When the overlay is shown and when it goes away.
#include <algorithm>

#include "core/app_delegate.h"

namespace dovetrel {

bool AppDelegate::overlayIsUp() const {
    return overlayWindow && overlayWindow->isVisible();
}

void AppDelegate::startMonitoring() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    eventMonitor = platform_.addGlobalMonitor(kMonitorEventMask, [weak](uint32_t type) {
        if (const auto self = weak.lock()) {
            self->handleMonitorEvent(type);
        }
    });
}

void AppDelegate::handleMonitorEvent(uint32_t type) {
    if (!isEnabled() || type > 34) {
        return;
    }
    if ((kActivityEventMask >> type) & 1) {
        if (overlayIsUp()) {
            dismissOverlay();
        } else {
            resetIdleTimer();
        }
        return;
    }
    if (type == eventtype::kMouseMoved) {
        const Point pointer = platform_.mouseLocation();
        if (overlayIsUp()) {
            if (!rectContainsPoint(overlayWindow->frame(), pointer)) {
                dismissOverlay();
            }
            return;
        }
        resetIdleTimer();
    }
}

void AppDelegate::resetIdleTimer() {
    forgetPointerQuery();
    if (idleTimer) {
        idleTimer->invalidate();
    }
    if (inputTimer) {
        inputTimer->invalidate();
        inputTimer = nullptr;
    }
    const double interval = std::clamp(idleTimeout(), kMinimumIdleTimeout, kMaximumIdleTimeout);
    idleTimer = platform_.scheduleIdleTimer(interval, weakly(&AppDelegate::idleTimerFired));
}

void AppDelegate::idleTimerFired() {
    if (squareMayShow()) {
        locatePointerForOverlay();
    }
}

bool AppDelegate::squareMayShow() {
    if (!isEnabled()) {
        return false;
    }
    // A square shown without the right to guard, or with nothing watching the pointer, could
    // stay under a pointer that moves on and swallow the clicks made there.
    if (!platform_.isProcessTrusted(false)) {
        handlePermissionLoss();
        return false;
    }
    // Over a locker or a blanked screen the square would guard nothing the user can see.
    if (isSnoozed() || platform_.isScreenLockedOrBlanked() || platform_.isPointerOverOwnWindow() ||
        !cursorVisibility_.isCursorVisible() || isFullscreenAppActive(platform_)) {
        waitForInput();
        return false;
    }
    return true;
}

void AppDelegate::locatePointerForOverlay() {
    struct Query {
        bool answered = false;
        // Set when no answer came within the call: then only the events counted since count.
        std::optional<uint64_t> lateFrom;
    };
    const auto query = std::make_shared<Query>();
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    platform_.locatePointer([weak, query](std::optional<Point> pointer) {
        const auto self = weak.lock();
        if (!self || query->answered ||
            (query->lateFrom && *query->lateFrom != self->pointerQueries_)) {
            return;
        }
        query->answered = true;
        // A screen can go dark, or a program full screen, without any input while the
        // answer is on its way.
        if (!query->lateFrom || self->squareMayShow()) {
            self->pointerLocated(pointer);
        }
    });
    // An answer given at once is as fresh as any input the platform handed over while seeking
    // it. A late one is overtaken by input, which only the input timer may see while no square
    // is up.
    if (!query->answered) {
        waitForInput();
        query->lateFrom = pointerQueries_;
    }
}

void AppDelegate::pointerLocated(std::optional<Point> pointer) {
    if (pointer) {
        showOverlay(*pointer);
    } else {
        waitForInput();
    }
}

void AppDelegate::waitForInput() {
    forgetPointerQuery();
    if (inputTimer) {
        inputTimer->invalidate();
    }
    inputTimer = platform_.scheduleInputTimer(weakly(&AppDelegate::inputResumed));
}

void AppDelegate::inputResumed() {
    // While the guard is off input arms nothing; switching it on waits for input again.
    if (isEnabled()) {
        resetIdleTimer();
    }
}

void AppDelegate::showOverlay(Point pointer) {
    // The square is going up: no countdown may be left to show it again, even one armed by
    // input the pointer query brought along, nor a wait for input armed while it was asked.
    if (idleTimer) {
        idleTimer->invalidate();
    }
    if (inputTimer) {
        inputTimer->invalidate();
        inputTimer = nullptr;
    }
    const double side = overlaySide(zoneSize(), pointer, platform_.screenFrames());
    if (!overlayWindow) {
        overlayWindow = std::make_unique<OverlayWindow>(platform_, side);
    }
    overlayWindow->updateSize(side);
    overlayWindow->show(pointer);
    publishGuardState();
    if (eventTap) {
        eventTap->setEnabled(true);
    }
    if (cursorVisibilityTimer) {
        cursorVisibilityTimer->invalidate();
    }
    cursorVisibilityTimer = platform_.scheduleTimer(kOverlayCheckInterval, true,
                                                    weakly(&AppDelegate::overlayCheckFired));
}

void AppDelegate::overlayCheckFired() {
    if (!platform_.isProcessTrusted(false)) {
        handlePermissionLoss();
        return;
    }
    // Another program can move the pointer without any input event (a window manager
    // centring it on a new window, an accessibility tool): the square must not stay behind.
    if (!cursorVisibility_.isCursorVisible() ||
        (overlayWindow && !rectContainsPoint(overlayWindow->frame(), platform_.mouseLocation()))) {
        dismissOverlay();
    }
}

void AppDelegate::dismissOverlay() {
    if (eventTap) {
        eventTap->setEnabled(false);
    }
    if (cursorVisibilityTimer) {
        cursorVisibilityTimer->invalidate();
        cursorVisibilityTimer = nullptr;
    }
    if (overlayWindow) {
        overlayWindow->dismiss();
    }
    publishGuardState();
    resetIdleTimer();
}

void AppDelegate::screenSleepOrLock() {
    // The idle timer is stopped but kept: with no overlay up, nothing is shown until the next
    // input after wake-up.
    if (idleTimer) {
        idleTimer->invalidate();
    }
    if (overlayIsUp()) {
        dismissOverlay();
    } else if (isEnabled()) {
        waitForInput();
    }
}

void AppDelegate::appDidActivate() {
    if (overlayIsUp()) {
        dismissOverlay();
    }
}

void AppDelegate::spaceDidChange() {
    if (overlayIsUp()) {
        dismissOverlay();
    } else {
        resetIdleTimer();
    }
}

}  // namespace dovetrel
