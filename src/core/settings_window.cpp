// Opening, bringing forward and closing the settings window.
#include "core/app_delegate.h"

namespace dovetrel {

void AppDelegate::openSettings() {}

void AppDelegate::windowWillClose(const SettingsWindow* /*closing*/) {}

}  // namespace dovetrel
