#include "app/qt/autostart.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <algorithm>

#include "app/qt/logging.h"

namespace dovetrel::app {
namespace {

// Characters that force an Exec argument into double quotes under the freedesktop rules for a
// desktop entry's Exec key.
bool isReserved(QChar c) {
    static const QString kReserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    return kReserved.contains(c);
}

// The escapes of a desktop entry's string values, applied to the whole value last.
QString escapeStringValue(const QString& value) {
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar c : value) {
        switch (c.unicode()) {
            case '\\':
                escaped += QStringLiteral("\\\\");
                break;
            case '\n':
                escaped += QStringLiteral("\\n");
                break;
            case '\t':
                escaped += QStringLiteral("\\t");
                break;
            case '\r':
                escaped += QStringLiteral("\\r");
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

// The Exec value that starts `executable`. GLib and systemd's autostart generator look the
// program up before they undo the %% escape, so they reject a program whose path holds a %;
// such a program is started through env, which both find, and which receives the path
// unescaped.
QString execValue(const QString& executable) {
    const QString argument = quotedExecArgument(executable);
    return executable.contains(QLatin1Char('%')) ? QStringLiteral("/usr/bin/env ") + argument
                                                 : argument;
}

}  // namespace

QString autostartFilePath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/autostart/dovetrel.desktop");
}

QString quotedExecArgument(const QString& path) {
    QString argument;
    if (std::any_of(path.begin(), path.end(), isReserved)) {
        argument += QLatin1Char('"');
        for (const QChar c : path) {
            if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') ||
                c == QLatin1Char('\\')) {
                argument += QLatin1Char('\\');
            }
            argument += c;
        }
        argument += QLatin1Char('"');
    } else {
        argument = path;
    }
    // A lone % would start a field code.
    argument.replace(QLatin1Char('%'), QStringLiteral("%%"));
    return escapeStringValue(argument);
}

bool registerAutostart(const QString& executable) {
    const QString path = autostartFilePath();
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        qCWarning(lcSettings) << "cannot make the autostart folder for" << path;
        return false;
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) {
        qCWarning(lcSettings) << "cannot write" << path << file.errorString();
        return false;
    }
    const QString entry = QStringLiteral(
                              "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=Dovetrel\n"
                              "Comment=Ignores accidental clicks while the pointer rests\n"
                              "Exec=%1\n"
                              "Terminal=false\n"
                              "NoDisplay=true\n"
                              "X-GNOME-Autostart-enabled=true\n")
                              .arg(execValue(executable));
    file.write(entry.toUtf8());
    if (!file.commit()) {
        qCWarning(lcSettings) << "cannot write" << path << file.errorString();
        return false;
    }
    qCDebug(lcSettings) << "autostart entry" << path << "starts" << executable;
    return true;
}

bool unregisterAutostart() {
    const QString path = autostartFilePath();
    QFile::remove(path);
    if (QFileInfo::exists(path)) {
        qCWarning(lcSettings) << "cannot remove" << path;
        return false;
    }
    return true;
}

}  // namespace dovetrel::app
