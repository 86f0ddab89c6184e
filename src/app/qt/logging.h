// The program's logging categories, one per subsystem. Warnings and worse are on by default;
// the rest is off until QT_LOGGING_RULES switches it on (for example "dovetrel.*.debug=true").
// Lines go to stderr, which reaches the journal when the session starts the program.
#pragma once

#include <QLoggingCategory>

// "dovetrel.guard": the click guard and its button grabs.
Q_DECLARE_LOGGING_CATEGORY(lcGuard)
// "dovetrel.monitor": the input monitor and the desktop facts it reads.
Q_DECLARE_LOGGING_CATEGORY(lcMonitor)
// "dovetrel.tray": the tray icon and its menu.
Q_DECLARE_LOGGING_CATEGORY(lcTray)
// "dovetrel.update": the release feed.
Q_DECLARE_LOGGING_CATEGORY(lcUpdate)
// "dovetrel.settings": the settings file, the settings window and launching at login.
Q_DECLARE_LOGGING_CATEGORY(lcSettings)
