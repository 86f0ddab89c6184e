#include "core/app_delegate.h"

namespace dovetrel {

AppDelegate::AppDelegate(Platform& platform)
    : platform_(platform), preferences_(platform.preferences()), cursorVisibility_(platform) {}

AppDelegate::~AppDelegate() = default;

std::function<void()> AppDelegate::weakly(void (AppDelegate::*operation)()) {
    return [weak = weak_from_this(), operation] {
        if (const auto self = weak.lock()) {
            ((*self).*operation)();
        }
    };
}

void AppDelegate::applicationDidFinishLaunching() {
    resetAccessibilityIfUpdated();
    requestAccessibilityIfNeeded();
    setupMenuBar();
    resetIdleTimer();
    setupEventTap();
    startMonitoring();
    checkForUpdates();

    platform_.addWorkspaceObserver(WorkspaceNotification::activeSpaceDidChange,
                                   weakly(&AppDelegate::spaceDidChange));
    platform_.addWorkspaceObserver(WorkspaceNotification::screensDidSleep,
                                   weakly(&AppDelegate::screenSleepOrLock));
    platform_.addWorkspaceObserver(WorkspaceNotification::sessionDidResignActive,
                                   weakly(&AppDelegate::screenSleepOrLock));
    platform_.addWorkspaceObserver(WorkspaceNotification::didActivateApplication,
                                   weakly(&AppDelegate::appDidActivate));
    platform_.addDistributedObserver(kScreenIsLockedNotification,
                                     weakly(&AppDelegate::screenSleepOrLock));
    platform_.addWorkspaceObserver(WorkspaceNotification::didWake,
                                   weakly(&AppDelegate::systemDidWake));
    // A press is placed on the overlay by the primary screen's height.
    platform_.addWorkspaceObserver(WorkspaceNotification::screenParametersDidChange,
                                   weakly(&AppDelegate::publishGuardState));
    // The settings window and hand edits of the settings file switch the guard too.
    followedEnabled_ = isEnabled();
    platform_.preferences().addChangeObserver(weakly(&AppDelegate::followEnabledPreference));
}

void AppDelegate::performAction(const std::string& selector, const MenuItem& sender) {
    if (selector == "toggleEnabled") {
        toggleEnabled();
    } else if (selector == "snoozeSelected:") {
        snoozeSelected(sender);
    } else if (selector == "cancelSnoozeAction") {
        cancelSnoozeAction();
    } else if (selector == "openSettings") {
        openSettings();
    } else if (selector == "quit") {
        quit();
    } else if (selector == "openUpdateURL") {
        openUpdateURL();
    }
}

}  // namespace dovetrel
