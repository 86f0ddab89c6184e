// Takes the README's pictures of the settings window (settings-light.png,
// settings-whatsnew-light.png and their dark twins) on Qt's offscreen platform. Run by hand:
//
//     QT_SCALE_FACTOR=2 build/dev/tools/settings_screenshots docs
#include <QApplication>
#include <QElapsedTimer>
#include <QMouseEvent>
#include <QPalette>
#include <QPixmap>
#include <QWidget>
#include <cstdio>

#include "app/ui/settings/settings_window.h"
#include "sim/simulated_platform.h"

namespace {

// Long enough for a cross-fade between tabs to end.
void settle() {
    QElapsedTimer waited;
    waited.start();
    while (waited.elapsed() < 600) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

// Clicks the middle of `widget` as the mouse would.
void click(QWidget* widget) {
    const QPointF middle = QRectF(widget->rect()).center();
    for (const auto type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
        QMouseEvent event(type, middle, widget->mapToGlobal(middle), Qt::LeftButton,
                          type == QEvent::MouseButtonPress ? Qt::LeftButton : Qt::NoButton,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }
    settle();
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(42, 42, 44));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::AlternateBase, QColor(36, 36, 38));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(58, 58, 60));
    dark.setColor(QPalette::ButtonText, Qt::white);
    const std::pair<QString, QPalette> themes[] = {
        {QStringLiteral("light"), QApplication::palette()}, {QStringLiteral("dark"), dark}};
    for (const auto& [theme, palette] : themes) {
        QApplication::setPalette(palette);
        dovetrel::sim::SimulatedPlatform platform;
        platform.store.editByHand("idleTimeout", "2.5");
        dovetrel::app::SettingsWindowWidget window(platform,
                                                   [](const dovetrel::SettingsWindow*) {});
        window.center();
        window.makeKeyAndOrderFront();
        settle();
        QWidget* panel = nullptr;
        for (QWidget* candidate : QApplication::topLevelWidgets()) {
            if (candidate->isVisible() &&
                candidate->windowTitle() == QLatin1String("Dovetrel Settings")) {
                panel = candidate;
            }
        }
        if (panel == nullptr) {
            std::fprintf(stderr, "no settings window\n");
            return 1;
        }
        for (const auto& [tab, file] : {std::pair{"tab:Settings", "settings-%1.png"},
                                        std::pair{"tab:What's New", "settings-whatsnew-%1.png"}}) {
            click(panel->findChild<QWidget*>(QString::fromLatin1(tab)));
            if (!panel->grab().save(folder + QLatin1Char('/') +
                                    QString::fromLatin1(file).arg(theme))) {
                return 1;
            }
        }
    }
    return 0;
}
