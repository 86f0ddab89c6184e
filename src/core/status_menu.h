// Pieces of the status menu shared by the menu and the snooze.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/menu.h"

namespace dovetrel {

// "5 minutes" ... "1 hour", each tagged with its length in minutes.
std::shared_ptr<Menu> makeSnoozeChoicesMenu();
// The one "Cancel Snooze" item shown while a snooze runs.
std::shared_ptr<Menu> makeCancelSnoozeMenu();
// "4m 59s" for 299 seconds, "42s" below a minute; minutes never become hours.
std::string snoozeTimeLeftText(int64_t secondsLeft);

}  // namespace dovetrel
