// The tray icon's menu, the Enabled toggle and Quit.
#include "core/app_delegate.h"

namespace dovetrel {

void AppDelegate::setupMenuBar() {}

void AppDelegate::toggleEnabled() {}

void AppDelegate::quit() {
    platform_.terminate();
}

void AppDelegate::menuWillOpen() {}

void AppDelegate::updateMenuBarIcon() {}

}  // namespace dovetrel
