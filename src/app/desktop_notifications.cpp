#include "app/desktop_notifications.h"

namespace dovetrel::app {

struct DesktopNotifications::State {};

DesktopNotifications::DesktopNotifications(std::function<void(WorkspaceNotification)>,
                                           std::function<void()>)
    : state_(std::make_unique<State>()) {}

DesktopNotifications::~DesktopNotifications() = default;

}  // namespace dovetrel::app
