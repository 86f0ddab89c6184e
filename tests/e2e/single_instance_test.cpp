// One Dovetrel per display: a later start hands over to the running one and ends.
#include <gtest/gtest.h>
#include <poll.h>

#include <algorithm>
#include <csignal>
#include <optional>

#include "support/x_session.h"

// Xlib last: its macros break other headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

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

// The next event of `type`, read the moment it comes (waitFor looks only now and then).
bool nextEvent(Display* display, int type, XEvent& event, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    pollfd readable{ConnectionNumber(display), POLLIN, 0};
    while (XCheckTypedEvent(display, type, &event) == False) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        poll(&readable, 1, 1);
    }
    return true;
}

// Asks the owner of the display for `target` from a window of the test's, as a later start
// does; the answer's property (None: refused), or nullopt when it does not answer in time.
std::optional<Atom> askOwner(Display* display, const char* target) {
    const Window asker =
        XCreateSimpleWindow(display, DefaultRootWindow(display), 0, 0, 1, 1, 0, 0, 0);
    const Atom atom = XInternAtom(display, target, False);
    const Atom selection = XInternAtom(display, "_DOVETREL_S0", False);
    // As a start does, which tries to take the selection first.
    XChangeProperty(display, asker, selection, XA_STRING, 8, PropModeAppend, nullptr, 0);
    XConvertSelection(display, selection, atom, atom, asker, CurrentTime);
    XEvent answer{};
    const bool answered = nextEvent(display, SelectionNotify, answer, 5s);
    XDestroyWindow(display, asker);
    return answered ? std::optional(answer.xselection.property) : std::nullopt;
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

TEST(SingleInstance, ARequestThatComesWhileTheFirstIsClaimingIsAnswered) {
    XSession session({.windowManager = false});
    Display* display = session.display();
    int fixesEvent = 0;
    int fixesError = 0;
    ASSERT_TRUE(XFixesQueryExtension(display, &fixesEvent, &fixesError));
    XFixesSelectSelectionInput(display, DefaultRootWindow(display),
                               XInternAtom(display, "_DOVETREL_S0", False),
                               XFixesSetSelectionOwnerNotifyMask);
    // The request goes out the moment the selection is taken, before the first start is
    // back in its event loop; each round is one more chance for the race.
    for (int round = 0; round < 3; ++round) {
        Dovetrel first(session, kSettings);
        XEvent owned{};
        do {
            ASSERT_TRUE(nextEvent(display, fixesEvent + XFixesSelectionNotify, owned, 10s));
        } while (reinterpret_cast<XFixesSelectionNotifyEvent&>(owned).owner == None);
        EXPECT_NE(askOwner(display, "_DOVETREL_OPEN_SETTINGS").value_or(None), None)
            << "round " << round;
        EXPECT_TRUE(waitFor([&] { return settingsWindowIsOpen(display); }));
        EXPECT_EQ(first.unexpectedOutput(), "");
    }
}

TEST(SingleInstance, AStartThatGaveUpOpensNothingWhenTheFirstComesBack) {
    XSession session({.windowManager = false});
    Display* display = session.display();
    Dovetrel first(session, kSettings);
    const Atom owned = XInternAtom(display, "_DOVETREL_S0", False);
    ASSERT_TRUE(waitFor([&] { return XGetSelectionOwner(display, owned) != None; }, 10s))
        << first.unexpectedOutput();
    first.process().signal(SIGSTOP);
    ASSERT_TRUE(waitFor([&] { return isStopped(first.process().pid()); }));

    Dovetrel second(session, kSettings);
    EXPECT_EQ(second.process().waitForExit(20s), 1);
    EXPECT_EQ(second.unexpectedOutput(),
              "dovetrel: another Dovetrel holds this display and does not answer\n");
    first.process().signal(SIGCONT);
    // A request answered after the abandoned one means the first has dealt with both.
    EXPECT_EQ(askOwner(display, "TARGETS"), std::optional<Atom>(None));
    EXPECT_FALSE(waitFor([&] { return settingsWindowIsOpen(display); }, 3s));
    EXPECT_EQ(first.unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
