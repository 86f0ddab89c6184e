#include "app/x11/input/press_location.h"

#include <gtest/gtest.h>

namespace dovetrel::app {
namespace {

// A 1920 x 1080 primary monitor and, to its right, a smaller one at twice the pixel ratio:
// its 1280 x 720 pixels are 640 x 360 in Qt's units, from its top-left corner on.
const std::vector<MonitorArea> kMonitors{{QRect(0, 0, 1920, 1080), 1.0},
                                         {QRect(1920, 0, 640, 360), 2.0}};

TEST(PressLocation, MapsARootPixelByTheMonitorThatHoldsItOrTheNearest) {
    const Judgement judgement{{}, kMonitors[0].geometry, kMonitors, std::nullopt};
    EXPECT_EQ(tapLocation(100, 200, judgement), (Point{100, 200}));
    EXPECT_EQ(tapLocation(1920 + 400, 200, judgement), (Point{1920 + 200, 100}));
    // Below the smaller monitor, nearer to it than to the primary one.
    EXPECT_EQ(tapLocation(2500, 760, judgement), (Point{1920 + 290, 380}));
}

TEST(PressLocation, APressOnTheDrawnSquareLandsInTheCoresFrameAtTheSamePlace) {
    // An 80-point square drawn over 160 pixels of the scaled monitor, its frame in window
    // coordinates (y up from the primary monitor's bottom edge).
    Judgement judgement{{true, true, {{2000, 1080 - 100}, {80, 80}}, 1080.0},
                        kMonitors[0].geometry,
                        kMonitors,
                        QRect(2080, 40, 160, 160)};
    EXPECT_EQ(tapLocation(2080, 40, judgement), (Point{2000.25, 20.25}));
    EXPECT_EQ(tapLocation(2239, 199, judgement), (Point{2079.75, 99.75}));
    EXPECT_EQ(decidePress(judgement.snapshot, tapLocation(2240, 120, judgement), 0),
              PressVerdict::passAndDismiss);
    // Not yet up, the square's drawing says nothing.
    judgement.snapshot.overlayVisible = false;
    EXPECT_EQ(tapLocation(2080, 40, judgement), (Point{1920 + 80, 20}));
}

}  // namespace
}  // namespace dovetrel::app
