// What a user without Dovetrel's GNOME Shell extension can do about it, said once per start:
// enable it when it is installed but off, otherwise install it and log in again.
#pragma once

#include <functional>

namespace dovetrel::app {

// Asks GNOME Shell about the extension and shows the notice that fits, unless `stillMissing`
// says the extension has come meanwhile; returns at once.
void offerShellExtension(std::function<bool()> stillMissing);
// Closes the notice, the extension having come.
void withdrawShellExtensionNotice();

}  // namespace dovetrel::app
