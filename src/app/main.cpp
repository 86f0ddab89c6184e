// The entry type: checks the session, starts the Qt event loop, installs the one application
// delegate and runs its launch sequence once the loop is running.
#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/session_check.h"
#include "app/single_instance.h"
#include "app/x11_platform.h"
#include "core/app_delegate.h"

namespace dovetrel::app {

class DovetrelApp {
  public:
    int run(int argc, char** argv) {
        const auto environment = [](const char* name) -> std::optional<std::string> {
            const char* value = std::getenv(name);
            return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
        };
        auto reason = reasonCannotRun(environment);
        if (!reason) {
            reason = reasonServerUnusable();
        }
        if (reason) {
            std::fprintf(stderr, "dovetrel: %s\n", reason->c_str());
            return EXIT_FAILURE;
        }
        // The guard only works on X11; never let Qt pick another backend.
        qputenv("QT_QPA_PLATFORM", "xcb");

        QApplication application(argc, argv);
        QApplication::setApplicationName(QStringLiteral("dovetrel"));
        QApplication::setApplicationDisplayName(QStringLiteral("Dovetrel"));
        QApplication::setQuitOnLastWindowClosed(false);
        SingleInstance instance;
        if (const auto status = instance.claimOrHandOver()) {
            return *status;
        }

        X11Platform platform(BuildInfo{DOVETREL_BUILD_NUMBER, DOVETREL_UPDATE_URL});
        const auto delegate = std::make_shared<AppDelegate>(platform);
        instance.onSettingsRequested([&delegate] { delegate->openSettings(); });
        QTimer::singleShot(0, &application,
                           [&delegate] { delegate->applicationDidFinishLaunching(); });
        return QApplication::exec();
    }
};

}  // namespace dovetrel::app

int main(int argc, char** argv) {
    return dovetrel::app::DovetrelApp().run(argc, argv);
}
