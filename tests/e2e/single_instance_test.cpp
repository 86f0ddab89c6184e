// One Dovetrel per display: a later start hands over to the running one and ends.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>

#include "support/x_session.h"

// Xlib last: its macros break other headers.
#include <X11/Xlib.h>

namespace dovetrel::e2e {
using namespace support;
namespace {

const std::string kSettings = "[General]\nidleTimeout=60\n";

bool settingsWindowIsOpen(Display* display) {
    const auto windows = topLevelWindows(display);
    return std::any_of(windows.begin(), windows.end(), [](const auto& window) {
        return window.viewable && window.name.rfind("Dovetrel Settings", 0) == 0;
    });
}

TEST(SingleInstance, ASecondStartOpensTheSettingsOfTheFirstAndEnds) {
    XSession session({.windowManager = false});
    Dovetrel first(session, kSettings);
    Display* display = session.display();
    const Atom owned = XInternAtom(display, "_DOVETREL_S0", False);
    ASSERT_TRUE(waitFor([&] { return XGetSelectionOwner(display, owned) != None; }, 10s))
        << first.unexpectedOutput();
    EXPECT_FALSE(settingsWindowIsOpen(display));

    Dovetrel second(session, kSettings);
    EXPECT_EQ(second.process().waitForExit(10s), 0);
    EXPECT_EQ(second.unexpectedOutput(),
              "dovetrel: already running on this display; opened its Settings window\n");
    EXPECT_TRUE(waitFor([&] { return settingsWindowIsOpen(display); }));
    EXPECT_TRUE(first.process().isRunning());
    EXPECT_EQ(first.unexpectedOutput(), "");

    // The server lets go of a dead owner's selection, so a start right after takes over.
    first.process().signal(SIGKILL);
    ASSERT_TRUE(first.process().waitForExit(5s).has_value());
    Dovetrel third(session, kSettings);
    EXPECT_FALSE(third.process().waitForExit(2s).has_value()) << third.unexpectedOutput();
    Dovetrel fourth(session, kSettings);
    EXPECT_EQ(fourth.process().waitForExit(10s), 0) << "the third start does not answer";
}

TEST(SingleInstance, TwoStartsAtOnceLeaveOne) {
    XSession session({.windowManager = false});
    Dovetrel one(session, kSettings);
    Dovetrel other(session, kSettings);
    ASSERT_TRUE(
        waitFor([&] { return !one.process().isRunning() || !other.process().isRunning(); }, 15s));
    Dovetrel& ended = one.process().isRunning() ? other : one;
    Dovetrel& running = one.process().isRunning() ? one : other;
    EXPECT_EQ(ended.process().waitForExit(1s), 0) << ended.unexpectedOutput();
    EXPECT_FALSE(running.process().waitForExit(1s).has_value()) << running.unexpectedOutput();
    EXPECT_TRUE(waitFor([&] { return settingsWindowIsOpen(session.display()); }));
}

}  // namespace
}  // namespace dovetrel::e2e
