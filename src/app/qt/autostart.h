// Starting with the desktop session through XDG autostart.
#pragma once

#include <QString>

namespace dovetrel::app {

// $XDG_CONFIG_HOME/autostart/dovetrel.desktop (or under ~/.config).
QString autostartFilePath();

// Writes the autostart entry whose Exec starts `executable`; false when it cannot be written.
bool registerAutostart(const QString& executable);
// Removes the entry; true when it is gone afterwards.
bool unregisterAutostart();

// `path` as one argument of a desktop entry's Exec key, quoted where it must be.
QString quotedExecArgument(const QString& path);

}  // namespace dovetrel::app
