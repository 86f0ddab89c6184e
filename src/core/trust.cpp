// The permission to watch and filter input: reset after an update, request, loss and recovery.
#include "core/app_delegate.h"

namespace dovetrel {

void AppDelegate::resetAccessibilityIfUpdated() {}

void AppDelegate::requestAccessibilityIfNeeded() {}

void AppDelegate::handlePermissionLoss() {}

}  // namespace dovetrel
