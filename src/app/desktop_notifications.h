// Workspace and lock notifications gathered from the screen savers on the session bus, logind
// on the system bus and the X server: desktop switches, a change of the program in front,
// screen blanking and sleep, lock, and session switches. Sources that are missing (no bus, no
// logind, no EWMH window manager) are skipped.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "core/platform.h"

namespace dovetrel::app {

class Logind;
class ScreenEvents;
class ScreenSavers;

class DesktopNotifications : public QObject {
  public:
    // `onWorkspace` gets space changes, activations, screen sleep, waking and session
    // switches; `onScreenLocked` the lock. Both run on the main thread.
    DesktopNotifications(std::function<void(WorkspaceNotification)> onWorkspace,
                         std::function<void()> onScreenLocked);
    ~DesktopNotifications() override;

    // Whether the session is locked (logind's LockedHint, a screen saver service's active
    // state) or the screen blanked (the X screen saver, DPMS) now; false when nothing tells.
    bool isScreenLockedOrBlanked();

  private:
    std::unique_ptr<ScreenSavers> screenSavers_;
    std::unique_ptr<Logind> logind_;
    std::unique_ptr<ScreenEvents> screenEvents_;
};

}  // namespace dovetrel::app
