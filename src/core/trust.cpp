// The permission to watch and filter input: reset after an update, request, loss and recovery.
#include "core/app_delegate.h"

namespace dovetrel {

void AppDelegate::resetAccessibilityIfUpdated() {
    const std::string build = platform_.bundleVersion().value_or("0");
    const auto lastGranted = preferences_.lastGrantedBuild();
    if (lastGranted && *lastGranted != build) {
        platform_.resetAccessibilityRecord(kBundleIdentifier);
    }
    // Every write rewrites the user's settings file: a launch of the same build leaves it be.
    if (lastGranted != build) {
        preferences_.setLastGrantedBuild(build);
    }
}

void AppDelegate::requestAccessibilityIfNeeded() {
    if (platform_.isProcessTrusted(true)) {
        return;
    }
    startPermissionPoll(false);
}

void AppDelegate::startPermissionPoll(bool restartCountdown) {
    updateMenuBarIcon();
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    accessibilityTimer =
        platform_.scheduleTimer(kAccessibilityPollInterval, true, [weak, restartCountdown] {
            const auto self = weak.lock();
            if (!self || !self->platform_.isProcessTrusted(false)) {
                return;
            }
            self->accessibilityTimer->invalidate();
            self->accessibilityTimer = nullptr;
            self->updateMenuBarIcon();
            self->setupEventTap();
            if (restartCountdown) {
                self->resetIdleTimer();
            }
        });
}

void AppDelegate::handlePermissionLoss() {
    // The tap goes first, before anything else can reach it: a tap without permission must
    // never go on holding clicks.
    if (eventTap) {
        eventTap->setEnabled(false);
        eventTap->invalidate();
    }
    eventTap = nullptr;
    if (overlayWindow) {
        overlayWindow->orderOut();
    }
    if (cursorVisibilityTimer) {
        cursorVisibilityTimer->invalidate();
        cursorVisibilityTimer = nullptr;
    }
    if (idleTimer) {
        idleTimer->invalidate();
        idleTimer = nullptr;
    }
    // Input arms the countdown again as before, but nothing shows while the permission is
    // missing: every firing finds it gone.
    waitForInput();
    if (accessibilityTimer) {
        // The poll already running installs the tap when permission returns.
        return;
    }
    startPermissionPoll(true);
}

}  // namespace dovetrel
