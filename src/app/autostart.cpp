#include "app/autostart.h"

namespace dovetrel::app {

QString autostartFilePath() {
    return {};
}

bool registerAutostart(const QString&) {
    return false;
}

bool unregisterAutostart() {
    return false;
}

QString quotedExecArgument(const QString& path) {
    return path;
}

}  // namespace dovetrel::app
