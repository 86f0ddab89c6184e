// Pausing the guard for a while without touching the Enabled preference.
#include "core/app_delegate.h"

namespace dovetrel {

void AppDelegate::snoozeSelected(const MenuItem& /*sender*/) {}

void AppDelegate::cancelSnoozeAction() {
    cancelSnooze();
}

void AppDelegate::cancelSnooze() {}

}  // namespace dovetrel
