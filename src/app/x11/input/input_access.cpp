#include "app/x11/input/input_access.h"

#include <utility>

#include "app/x11/connection.h"
#include "app/x11/input/input_monitor.h"

namespace dovetrel::app {

InputAccess::InputAccess(std::function<double()> clock)
    : guardRetry_(kReconnectBackoff, clock), serverProbe_(kReconnectBackoff, std::move(clock)) {}

std::shared_ptr<X11ClickGuard> InputAccess::openGuard(
    EventTapHandlers handlers, X11ClickGuard::OverlayGeometry overlayOnScreen) {
    if (!guardRetry_.due()) {
        return nullptr;
    }
    auto guard = X11ClickGuard::create(std::move(handlers), std::move(overlayOnScreen));
    if (guard) {
        guardRetry_.succeeded();
    } else {
        guardRetry_.failed();
    }
    guard_ = guard;
    return guard;
}

bool InputAccess::isGranted(const X11InputMonitor* monitor) {
    if (monitor != nullptr && !monitor->isHealthy()) {
        return false;
    }
    if (const auto guard = guard_.lock()) {
        return guard->isHealthy();
    }
    if (!serverProbe_.due()) {
        return serverReachable_;
    }
    serverReachable_ = static_cast<bool>(XConnection::toQtServer());
    if (serverReachable_) {
        serverProbe_.succeeded();
    } else {
        serverProbe_.failed();
    }
    return serverReachable_;
}

}  // namespace dovetrel::app
