#include "app/qt/logging.h"

Q_LOGGING_CATEGORY(lcGuard, "dovetrel.guard", QtWarningMsg)
Q_LOGGING_CATEGORY(lcMonitor, "dovetrel.monitor", QtWarningMsg)
Q_LOGGING_CATEGORY(lcTray, "dovetrel.tray", QtWarningMsg)
Q_LOGGING_CATEGORY(lcUpdate, "dovetrel.update", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "dovetrel.settings", QtWarningMsg)
