// Writes the tray icon's two states as symbolic SVGs for the hicolor theme, drawn by the same
// code that paints the icon, so that a panel showing the icon by name sees the same picture:
//
//   dovetrel_symbolic_icons <folder>
//
// Status notifier hosts recolour a "-symbolic" icon to their panel's foreground.
#include <QFile>
#include <QString>
#include <cstdio>

#include "app/ui/tray_icon_painter.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    // The freedesktop convention for a symbolic icon drawn by a host that does not recolour.
    const QColor unrecoloured(0xbe, 0xbe, 0xbe);
    for (const bool active : {true, false}) {
        QFile file(QString::fromLocal8Bit(argv[1]) +
                   (active ? QStringLiteral("/app.dovetrel.Dovetrel-active-symbolic.svg")
                           : QStringLiteral("/app.dovetrel.Dovetrel-inactive-symbolic.svg")));
        const QByteArray svg =
            dovetrel::app::menuBarIconSvg(dovetrel::makeMenuBarIcon(active), unrecoloured);
        if (!file.open(QIODevice::WriteOnly) || file.write(svg) != svg.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
