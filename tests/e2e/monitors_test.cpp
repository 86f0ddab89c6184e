#include <gtest/gtest.h>

#include <thread>

#include "support/x_session.h"

// Xlib last: its macros break other headers.
#include <X11/Xlib.h>

namespace dovetrel::e2e {
using namespace support;
namespace {

// A desktop of several monitors with Qt's scaling, twice the pixels per point where the
// pointer rests, and that spot.
struct Desktop {
    const char* name;
    int width;
    int height;
    std::vector<MonitorLayout> monitors;
    std::string scaling;
    int restX;
    int restY;
};

void PrintTo(const Desktop& desktop, std::ostream* out) {
    *out << desktop.name;
}

class SeveralMonitors : public ::testing::TestWithParam<Desktop> {};

TEST_P(SeveralMonitors, ShowsTheSquareUnderThePointerAndJudgesPressesWhereItIsDrawn) {
    const Desktop& desktop = GetParam();
    XSession session({.windowManager = false, .width = desktop.width, .height = desktop.height});
    _XDisplay* display = session.display();
    setMonitors(display, desktop.monitors);
    ClientWindow client(session, 0, 0, desktop.width, desktop.height);
    movePointer(display, desktop.restX, desktop.restY);
    Dovetrel dovetrel(session, "[General]\nidleTimeout=1\nzoneSize=80\n", {desktop.scaling});

    const auto overlay = waitForGuardedOverlay(display);
    ASSERT_TRUE(overlay) << dovetrel.unexpectedOutput();
    EXPECT_NEAR(overlay->x + overlay->width / 2, desktop.restX, 1);
    EXPECT_NEAR(overlay->y + overlay->height / 2, desktop.restY, 1);
    EXPECT_NEAR(overlay->width, 2 * 80, 2);
    click(display, 1);
    EXPECT_TRUE(client.receives({}));

    // A press just beside the square, before the move has taken it down, is not the square's.
    const auto next = waitForGuardedOverlay(display);
    ASSERT_TRUE(next);
    movePointer(display, next->x + next->width + 2, desktop.restY);
    click(display, 1);
    EXPECT_TRUE(client.receives({1}));
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, SeveralMonitors,
    ::testing::Values(Desktop{"ThreeInARowAtTwiceTheScale",
                              5760,
                              1080,
                              {{0, 0, 1920, 1080, true},
                               {1920, 0, 1920, 1080, false},
                               {3840, 0, 1920, 1080, false}},
                              "QT_SCALE_FACTOR=2",
                              4800,
                              500},
                      Desktop{"StackedNearTheFarEdge",
                              1920,
                              2160,
                              {{0, 0, 1920, 1080, true}, {0, 1080, 1920, 1080, false}},
                              "QT_SCALE_FACTOR=2",
                              1850,
                              2100},
                      // The left monitor is named E2E-0: the primary is laid out last.
                      Desktop{"MixedFactors",
                              3840,
                              1080,
                              {{0, 0, 1920, 1080, false}, {1920, 0, 1920, 1080, true}},
                              "QT_SCREEN_SCALE_FACTORS=1;2",
                              1500,
                              600}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(FirstSquare, AppearsUnderAPointerThatOnlyMovedSinceLaunch) {
    XSession session;
    _XDisplay* display = session.display();
    ClientWindow client(session, 0, 0, 1280, 800);
    movePointer(display, 640, 400);
    Dovetrel dovetrel(session, "[General]\nidleTimeout=1\n");
    // Motion only, no press or key, between the launch and the first square.
    std::this_thread::sleep_for(300ms);
    for (int step = 1; step <= 10; ++step) {
        movePointer(display, 640 - 30 * step, 400 - 15 * step);
    }
    const auto overlay = waitForGuardedOverlay(display);
    ASSERT_TRUE(overlay);
    EXPECT_NEAR(overlay->x + overlay->width / 2, 340, 1);
    EXPECT_NEAR(overlay->y + overlay->height / 2, 250, 1);
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

TEST(MonitorsOfSeveralScreens, ShowTheSquareOnlyOnTheScreenHoldingThePointer) {
    XSession session({.windowManager = false, .screens = 2});
    _XDisplay* display = session.display();
    movePointer(display, 640, 400);
    const std::string settings = "[General]\nidleTimeout=1\n";
    Dovetrel onFirst(session, settings, {"DISPLAY=" + session.displayName() + ".0"});
    Dovetrel onSecond(session, settings, {"DISPLAY=" + session.displayName() + ".1"});
    Display* second = XOpenDisplay((session.displayName() + ".1").c_str());
    ASSERT_NE(second, nullptr);
    // Both are up and past their first idle time-out well within the watch (the first square
    // comes now and then three seconds late).
    EXPECT_FALSE(waitForGuardedOverlay(second, 8s)) << onSecond.unexpectedOutput();
    XCloseDisplay(second);
    const auto overlay = waitForGuardedOverlay(display);
    ASSERT_TRUE(overlay) << onFirst.unexpectedOutput();
    EXPECT_NEAR(overlay->x + overlay->width / 2, 640, 1);
    EXPECT_EQ(onFirst.unexpectedOutput(), "");
    EXPECT_EQ(onSecond.unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
