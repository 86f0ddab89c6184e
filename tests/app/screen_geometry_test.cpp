#include "app/screen_geometry.h"

#include <gtest/gtest.h>

namespace dovetrel::app {
namespace {

// A primary monitor of 1280 x 800 with a second one of 1920 x 1080 to its left, whose top
// lies 100 pixels higher: the root window's origin is not the primary monitor's.
const QRect kPrimary(1920, 100, 1280, 800);

TEST(ScreenGeometry, MapsGlobalPointsRelativeToThePrimaryMonitor) {
    EXPECT_EQ(toWindowPoint(QPointF(1920, 900), kPrimary), (Point{0, 0}));
    EXPECT_EQ(toWindowPoint(QPointF(1920 + 100, 100 + 200), kPrimary), (Point{100, 600}));
    EXPECT_EQ(toTapPoint(QPointF(1920 + 100, 100 + 200), kPrimary), (Point{100, 200}));
    // On the monitor to the left, above the primary's top edge.
    EXPECT_EQ(toWindowPoint(QPointF(10, 0), kPrimary), (Point{-1910, 900}));
    EXPECT_EQ(toTapPoint(QPointF(10, 0), kPrimary), (Point{-1910, -100}));
}

TEST(ScreenGeometry, TapAndWindowCoordinatesAgreeThroughTheFlip) {
    const QPointF global(2500.5, 333.25);
    const Point tap = toTapPoint(global, kPrimary);
    const Point window = toWindowPoint(global, kPrimary);
    EXPECT_EQ(window.x, tap.x);
    EXPECT_EQ(window.y, kPrimary.height() - tap.y);
}

TEST(ScreenGeometry, RectanglesRoundTrip) {
    const QRectF global(1960.5, 140, 80, 80);
    const Rect window = toWindowRect(global, kPrimary);
    EXPECT_EQ(window, (Rect{{40.5, 680}, {80, 80}}));
    EXPECT_EQ(toGlobalRect(window, kPrimary), global);
    // The primary monitor itself is the window-coordinate origin.
    EXPECT_EQ(toWindowRect(QRectF(kPrimary), kPrimary), (Rect{{0, 0}, {1280, 800}}));
}

}  // namespace
}  // namespace dovetrel::app
