// Losing the right to filter input (the guard's connection to the server is cut), or the
// means to tell that the pointer rests (the input monitor's), while the overlay is up must
// free every click at once, and the guard must come back by itself.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <thread>
#include <vector>

#include "support/x_session.h"

// Xlib last: its macros break other headers.
#include <X11/Xlib.h>

namespace dovetrel::e2e {
using namespace support;
namespace {

// The name of the unmapped window by which the connection can be told apart, and what the
// program says when it is cut.
using CutConnection = std::pair<std::string, std::string>;

// The unmapped window of that name, if there is one.
std::optional<unsigned long> markerNamed(_XDisplay* display, const std::string& name) {
    for (const auto& window : topLevelWindows(display)) {
        if (window.name == name) {
            return window.id;
        }
    }
    return std::nullopt;
}

// Cuts the connection marked by the window of that name, as xkill does; false when there is
// no such window.
bool cutConnection(_XDisplay* display, const std::string& name) {
    std::optional<unsigned long> marker;
    if (!waitFor([&] { return (marker = markerNamed(display, name)).has_value(); })) {
        return false;
    }
    XKillClient(display, *marker);
    XSync(display, False);
    return true;
}

class PermissionLoss : public ::testing::TestWithParam<CutConnection> {};

TEST_P(PermissionLoss, ACutConnectionFreesClicksAtOnceAndTheGuardComesBack) {
    XSession session;
    _XDisplay* display = session.display();
    ClientWindow client(session, 100, 100, 600, 400);
    movePointer(display, 400, 300);
    Dovetrel dovetrel(session, "[General]\nidleTimeout=1\n");

    ASSERT_TRUE(waitForGuardedOverlay(display));
    ASSERT_TRUE(cutConnection(display, GetParam().first));
    // One check of the permission later the overlay is gone, without a fade.
    EXPECT_TRUE(overlayGoes(display, 1s));
    EXPECT_FALSE(buttonIsGrabbed(display, 1));
    click(display, 1);
    EXPECT_TRUE(client.receives({1}));
    EXPECT_TRUE(dovetrel.process().isRunning());

    // A new connection is made within about a second, and the next rest guards again.
    EXPECT_TRUE(waitFor([&] { return markerNamed(display, GetParam().first).has_value(); }, 3s));
    ASSERT_TRUE(waitForGuardedOverlay(display, 5s));
    click(display, 1);
    EXPECT_TRUE(overlayGoes(display));
    EXPECT_TRUE(client.receives({})) << "the press on the restored guard was not dropped";
    EXPECT_EQ(dovetrel.unexpectedOutput(), GetParam().second);
}

TEST(GuardConnectionCut, CtrlZStillStopsTheProgramWithNoSquareUp) {
    XSession session;
    Dovetrel dovetrel(session, "[General]\nidleTimeout=60\n");
    ASSERT_TRUE(cutConnection(session.display(), "Dovetrel click guard"));
    EXPECT_TRUE(waitFor([&] { return !markerNamed(session.display(), "Dovetrel click guard"); }));
    dovetrel.process().signal(SIGTSTP);
    // Ignored, it would never stop; the wait leaves room for a busy machine.
    EXPECT_TRUE(waitFor([&] { return isStopped(dovetrel.process().pid()); }, 3s));
    dovetrel.process().signal(SIGCONT);
}

// Cut with no square up, the monitor must leave no square under a pointer that moves and
// clicks on, and make its connection anew by itself.
TEST(InputMonitorCut, LeavesNoSquareUnderAMovingPointerAndComesBackByItself) {
    XSession session({.windowManager = false});
    _XDisplay* display = session.display();
    ClientWindow client(session, 0, 0, 1280, 800);
    Dovetrel dovetrel(session, "[General]\nidleTimeout=1\n");
    ASSERT_TRUE(cutConnection(display, "Dovetrel input monitor"));
    int clicks = 0;
    for (const auto start = std::chrono::steady_clock::now();
         std::chrono::steady_clock::now() - start < 3s; ++clicks) {
        movePointer(display, 100 + clicks % 600, 300);
        click(display, 1);
        std::this_thread::sleep_for(60ms);
    }
    EXPECT_TRUE(client.receives(std::vector<int>(size_t(clicks), 1)));
    EXPECT_TRUE(
        waitFor([&] { return markerNamed(display, "Dovetrel input monitor").has_value(); }));
    EXPECT_EQ(dovetrel.unexpectedOutput(),
              "dovetrel.monitor: lost the input monitor's X connection; the guard stands down "
              "until it is back\n");
}

// Cut, the idle watch is made anew by itself and the next rest still shows the square.
TEST(IdleWatchCut, TheNextRestStillShowsTheSquare) {
    XSession session({.windowManager = false});
    _XDisplay* display = session.display();
    Dovetrel dovetrel(session, "[General]\nidleTimeout=1\n");
    ASSERT_TRUE(cutConnection(display, "Dovetrel idle watch"));
    movePointer(display, 300, 300);
    EXPECT_TRUE(waitForGuardedOverlay(display, 8s));
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

INSTANTIATE_TEST_SUITE_P(
    Connections, PermissionLoss,
    ::testing::Values(CutConnection{"Dovetrel click guard", ""},
                      CutConnection{
                          "Dovetrel input monitor",
                          "dovetrel.monitor: lost the input monitor's X connection; the guard "
                          "stands down until it is back\n"}),
    [](const auto& info) { return info.index == 0 ? "Guard" : "InputMonitor"; });

}  // namespace
}  // namespace dovetrel::e2e
