#include "app/desktop_notifications.h"

#include "app/dbus/logind.h"
#include "app/dbus/screen_savers.h"
#include "app/x11/screen_events.h"

namespace dovetrel::app {

DesktopNotifications::DesktopNotifications(std::function<void(WorkspaceNotification)> onWorkspace,
                                           std::function<void()> onScreenLocked)
    : screenSavers_(std::make_unique<ScreenSavers>(onScreenLocked)),
      logind_(std::make_unique<Logind>(onWorkspace, std::move(onScreenLocked))),
      screenEvents_(std::make_unique<ScreenEvents>(std::move(onWorkspace))) {}

DesktopNotifications::~DesktopNotifications() = default;

bool DesktopNotifications::isScreenLockedOrBlanked() {
    return screenSavers_->lockedOrBlanked() || logind_->locked() || screenEvents_->screenIsDark();
}

}  // namespace dovetrel::app
