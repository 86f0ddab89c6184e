// What a user without Dovetrel's GNOME Shell extension can do about it, said once per start:
// enable it when it is installed but off, otherwise install it and log in again.
#pragma once

namespace dovetrel::app {

// Asks GNOME Shell about the extension and shows the notice that fits; returns at once.
void offerShellExtension();

}  // namespace dovetrel::app
