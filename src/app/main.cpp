// The entry type: reads the command line, checks the session, starts the Qt event loop,
// installs the one application delegate and runs its launch sequence once the loop is running.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QIcon>
#include <QPalette>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "app/dbus/single_instance.h"
#include "app/gnome_platform.h"
#include "app/ui/tray_icon_painter.h"
#include "app/wayland/connection.h"
#include "app/wayland_platform.h"
#include "app/x11/session_check.h"
#include "app/x11/single_instance.h"
#include "app/x11_platform.h"
#include "core/app_delegate.h"

namespace dovetrel::app {
namespace {

// The status of a command line that names options nobody knows, as getopt programs use.
constexpr int kExitUsage = 2;

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// Answers --help and --version, and refuses what it does not know, before anything needs a
// display. nullopt when the program should run; otherwise the status to exit with.
std::optional<int> answerCommandLine(int argc, char** argv) {
    // The parser's help text names the program through the application object.
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Ignores accidental clicks while the pointer rests: after a few seconds of\n"
        "stillness a small square appears under the pointer, and a plain click on\n"
        "it is dropped. Dovetrel runs in the panel's tray and reads its settings\n"
        "from $XDG_CONFIG_HOME/dovetrel/dovetrel.conf.\n\n"
        "In a Wayland session (WAYLAND_DISPLAY set) the compositor must offer the\n"
        "layer shell, as KDE Plasma, sway and labwc do; on GNOME, Dovetrel's Shell\n"
        "extension (dovetrel@dovetrel.app) draws the square instead.\n"
        "DOVETREL_WAYLAND=0 runs on X11 (XWayland) there, guarding only X11 programs."));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and exit."));
    const QCommandLineOption version({QStringLiteral("v"), QStringLiteral("version")},
                                     QStringLiteral("Show the version and build number and exit."));
    parser.addOption(help);
    parser.addOption(version);

    QString error;
    if (!parser.parse(QCoreApplication::arguments())) {
        error = parser.errorText();
    } else if (!parser.positionalArguments().isEmpty()) {
        error =
            QStringLiteral("Unexpected argument '%1'.").arg(parser.positionalArguments().front());
    }
    if (!error.isEmpty()) {
        print(stderr, QStringLiteral("dovetrel: %1\n\n%2").arg(error, parser.helpText()));
        return kExitUsage;
    }
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return EXIT_SUCCESS;
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("dovetrel %1 (build %2)\n")
                          .arg(QString::fromLatin1(kAppVersion),
                               QString::fromLatin1(DOVETREL_BUILD_NUMBER)));
        return EXIT_SUCCESS;
    }
    return std::nullopt;
}

// One line on stderr saying why this session cannot be guarded; nullopt when it can.
std::optional<std::string> reasonNotToRun() {
    const auto environment = [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    };
    auto reason = reasonCannotRun(environment);
    if (!reason) {
        reason = reasonServerUnusable();
    }
    return reason;
}

// Names the program to Qt and the desktop; after the application object exists.
void describeApplication() {
    QApplication::setApplicationName(QStringLiteral("dovetrel"));
    QApplication::setApplicationVersion(QString::fromLatin1(kAppVersion));
    // No display name: window managers would show it after every window title.
    QApplication::setDesktopFileName(QStringLiteral("app.dovetrel.Dovetrel"));
    QApplication::setQuitOnLastWindowClosed(false);
    // The installed icon; from the build tree, the tray's picture.
    QApplication::setWindowIcon(QIcon::fromTheme(
        QApplication::desktopFileName(),
        makeTrayIcon(makeMenuBarIcon(true), [](QPainter&, const QRect&) {
            return TrayIconInk{QApplication::palette().color(QPalette::WindowText)};
        })));
}

bool waylandSession() {
    return runsOnWayland([](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
    });
}

// GNOME offers clients no layer shell: its Shell runs Dovetrel's extension instead.
bool gnomeShellRuns() {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    return bus.isConnected() &&
           bus.interface()->isServiceRegistered(QStringLiteral("org.gnome.Shell"));
}

int runOnGnome() {
    BusSingleInstance instance;
    if (const auto status = instance.claimOrHandOver()) {
        return *status;
    }
    GnomePlatform platform(BuildInfo{DOVETREL_BUILD_NUMBER, DOVETREL_UPDATE_URL},
                           QDBusConnection::sessionBus());
    const auto delegate = std::make_shared<AppDelegate>(platform);
    instance.onSettingsRequested([&delegate] { delegate->openSettings(); });
    QTimer::singleShot(0, qApp, [&delegate] { delegate->applicationDidFinishLaunching(); });
    return QApplication::exec();
}

int runOnWayland(int argc, char** argv) {
    // Qt's windows (the Settings window, menus) as Wayland clients too, unless told otherwise.
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "wayland");
    }
    QApplication application(argc, argv);
    describeApplication();
    if (gnomeShellRuns()) {
        return runOnGnome();
    }
    // What the compositor lacks is told before the session's one instance is claimed.
    std::string why;
    auto connection = WaylandConnection::open(why);
    if (connection && connection->globals().idleNotifier == nullptr &&
        connection->globals().kdeIdle == nullptr) {
        why =
            "the Wayland compositor tells no idle time (ext_idle_notifier_v1 or "
            "org_kde_kwin_idle), which Dovetrel needs to see the pointer rest";
        connection.reset();
    }
    if (!connection) {
        std::fprintf(stderr, "dovetrel: %s\n", why.c_str());
        return EXIT_FAILURE;
    }
    BusSingleInstance instance;
    if (const auto status = instance.claimOrHandOver()) {
        return *status;
    }
    WaylandPlatform platform(BuildInfo{DOVETREL_BUILD_NUMBER, DOVETREL_UPDATE_URL},
                             std::move(connection));
    const auto delegate = std::make_shared<AppDelegate>(platform);
    instance.onSettingsRequested([&delegate] { delegate->openSettings(); });
    QTimer::singleShot(0, &application, [&delegate] { delegate->applicationDidFinishLaunching(); });
    return QApplication::exec();
}

int run(int argc, char** argv) {
    if (const auto status = answerCommandLine(argc, argv)) {
        return *status;
    }
    if (waylandSession()) {
        return runOnWayland(argc, argv);
    }
    if (const auto reason = reasonNotToRun()) {
        std::fprintf(stderr, "dovetrel: %s\n", reason->c_str());
        return EXIT_FAILURE;
    }
    // The guard only works on X11; never let Qt pick another backend.
    qputenv("QT_QPA_PLATFORM", "xcb");

    QApplication application(argc, argv);
    describeApplication();
    SingleInstance instance;
    if (const auto status = instance.claimOrHandOver()) {
        return *status;
    }

    X11Platform platform(BuildInfo{DOVETREL_BUILD_NUMBER, DOVETREL_UPDATE_URL});
    const auto delegate = std::make_shared<AppDelegate>(platform);
    instance.onSettingsRequested([&delegate] { delegate->openSettings(); });
    QTimer::singleShot(0, &application, [&delegate] { delegate->applicationDidFinishLaunching(); });
    return QApplication::exec();
}

}  // namespace
}  // namespace dovetrel::app

int main(int argc, char** argv) {
    return dovetrel::app::run(argc, argv);
}
