// The tray icon as drawn, against pictures of it: on, and crossed out while off. Regenerate
// the pictures with DOVETREL_WRITE_ICONS=1 after a deliberate change of the drawing.
#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>

#include "app/ui/tray_icon_painter.h"

namespace dovetrel::app {
namespace {

QImage drawn(bool active) {
    QImage image(36, 36, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    paintMenuBarIcon(painter, QRectF(0, 0, 36, 36), makeMenuBarIcon(active), Qt::black);
    return image;
}

TEST(TrayIcon, IsDrawnAsItsPicture) {
    for (const bool active : {true, false}) {
        SCOPED_TRACE(active ? "on" : "off");
        const QString path = QStringLiteral(DOVETREL_TEST_DATA "/tray-icon-%1.png")
                                 .arg(active ? QStringLiteral("on") : QStringLiteral("off"));
        const QImage image = drawn(active);
        if (qEnvironmentVariableIsSet("DOVETREL_WRITE_ICONS")) {
            ASSERT_TRUE(image.save(path));
        }
        const QImage reference = QImage(path).convertToFormat(QImage::Format_ARGB32);
        ASSERT_EQ(reference.size(), image.size()) << path.toStdString();
        // Antialiasing may differ by a few steps between Qt versions; a moved or missing
        // stroke changes whole pixels, and a fainter or fuller tile the ink as a whole.
        int differing = 0;
        int inkDifference = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                const int step = qAlpha(image.pixel(x, y)) - qAlpha(reference.pixel(x, y));
                differing += std::abs(step) > 48;
                inkDifference += step;
            }
        }
        EXPECT_LE(differing, 6);
        EXPECT_LE(std::abs(inkDifference), 16 * 255);
    }
    EXPECT_NE(drawn(true), drawn(false));
}

}  // namespace
}  // namespace dovetrel::app
