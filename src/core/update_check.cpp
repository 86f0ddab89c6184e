// The once-per-launch look at the release feed.
#include "core/app_delegate.h"

namespace dovetrel {

void AppDelegate::checkForUpdates() {}

void AppDelegate::showUpdateMenuItem(const std::string& /*version*/) {}

void AppDelegate::openUpdateURL() {}

}  // namespace dovetrel
