// Workspace and lock notifications on X11 and the session and system buses: desktop switches,
// a change of the program in front, screen blanking and sleep, lock, and session switches.
// Sources that are missing (no bus, no logind, no EWMH window manager) are skipped.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "core/platform.h"

namespace dovetrel::app {

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
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dovetrel::app
