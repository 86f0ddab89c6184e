#include "app/qt/screen_geometry.h"

#include <gtest/gtest.h>

namespace dovetrel::app {
namespace {

// A primary monitor away from Qt's origin: window coordinates start at its bottom-left
// corner with y up, tap coordinates at its top-left corner with y down.
const QRect kPrimary(100, 50, 800, 600);

TEST(ScreenGeometry, ConvertsBetweenQtAndTheCoresCoordinatesAroundThePrimaryMonitor) {
    EXPECT_EQ(toWindowPoint(QPointF(150, 70), kPrimary), (Point{50, 580}));
    EXPECT_EQ(toTapPoint(QPointF(150, 70), kPrimary), (Point{50, 20}));
    const Rect window{{50, 500}, {80, 80}};
    EXPECT_EQ(toGlobalRect(window, kPrimary), QRectF(150, 70, 80, 80));
    EXPECT_EQ(toWindowRect(QRectF(150, 70, 80, 80), kPrimary), window);
}

TEST(ScreenGeometry, AMonitorHoldsItsServerPixelsAndANonsensicalRatioCountsAsOne) {
    const std::vector<MonitorArea> monitors{{QRect(0, 0, 640, 480), 1.0},
                                            {QRect(640, 0, 320, 240), 2.0},
                                            {QRect(1280, 0, 100, 100), 0.0}};
    EXPECT_EQ(monitorHolding(QPoint(10, 10), monitors), 0u);
    EXPECT_EQ(monitorHolding(QPoint(1279, 479), monitors), 1u);
    EXPECT_EQ(monitorHolding(QPoint(1379, 99), monitors), 2u);
    EXPECT_EQ(monitorHolding(QPoint(1380, 10), monitors), std::nullopt);
    EXPECT_EQ(rootToGlobal(QPointF(1300, 20), monitors), QPointF(1300, 20));
}

}  // namespace
}  // namespace dovetrel::app
