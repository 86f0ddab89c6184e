// Whether this process may watch and filter input now. X11 asks no permission: the right holds
// while the connections that watch and filter input work. Reconnecting and probing the server
// are spaced by back-off, since each try costs the server a client and us a round trip.
#pragma once

#include <functional>
#include <memory>

#include "app/x11/input/click_guard.h"
#include "core/backoff.h"

namespace dovetrel::app {

class X11InputMonitor;

class InputAccess {
  public:
    // `clock` gives seconds on a clock that never goes back.
    explicit InputAccess(std::function<double()> clock);

    // A new guard, or nullptr when it cannot start (or a failed start was too recent).
    std::shared_ptr<X11ClickGuard> openGuard(EventTapHandlers handlers,
                                             X11ClickGuard::OverlayGeometry overlayOnScreen);

    // Without its input monitor nothing tells the guard that the pointer moves: it would keep
    // a square under a busy pointer, so the monitor's loss counts as a lost right until it has
    // made its connection anew. With a monitor that works, the right holds while the guard's
    // own connection does; with no guard yet, while the server can be reached.
    bool isGranted(const X11InputMonitor* monitor);

  private:
    Backoff guardRetry_;
    Backoff serverProbe_;
    bool serverReachable_ = true;
    std::weak_ptr<X11ClickGuard> guard_;
};

}  // namespace dovetrel::app
