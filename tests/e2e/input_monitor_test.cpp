#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/x_session.h"

// Xlib defines macros (None, Bool, Status) that break gtest's headers: it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace dovetrel::e2e {
using namespace support;
namespace {

const std::string kQuickSettings = "[General]\nidleTimeout=1\nzoneSize=80\n";

// Where the pointer rests in each test, over a client window so that input goes to another
// program.
constexpr int kRestX = 400;
constexpr int kRestY = 300;

// Makes a key a Mod3 key, or an ordinary one again, as xmodmap does.
void setMod3Key(Display* display, const char* keysymName, bool modifier) {
    const KeyCode code = XKeysymToKeycode(display, XStringToKeysym(keysymName));
    XModifierKeymap* map = XGetModifierMapping(display);
    map = modifier ? XInsertModifiermapEntry(map, code, Mod3MapIndex)
                   : XDeleteModifiermapEntry(map, code, Mod3MapIndex);
    waitFor([&] { return XSetModifierMapping(display, map) != MappingBusy; });
    XFreeModifiermap(map);
    XSync(display, False);
}

// Takes the XInput 2.4 gesture events on the root window first, as a gesture daemon does: the
// server refuses them to every later client.
void holdGestures(Display* display) {
    int major = 2;
    int minor = 4;
    if (XIQueryVersion(display, &major, &minor) != Success || minor < 4) {
        return;
    }
    unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
    for (int event = XI_GesturePinchBegin; event <= XI_GestureSwipeEnd; ++event) {
        XISetMask(bits, event);
    }
    XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
    XISelectEvents(display, DefaultRootWindow(display), &mask, 1);
    XSync(display, False);
}

TEST(InputMonitor, RestShowsTheSquareOnThePointerOnlyMovementOutOfItTakesItDownAndMovingPutsOff) {
    XSession session;
    Display* display = session.display();
    ClientWindow client(session, 100, 100, 800, 500);
    movePointer(display, kRestX, kRestY);
    Dovetrel dovetrel(session, kQuickSettings);

    const auto shown = waitForGuardedOverlay(display);
    ASSERT_TRUE(shown) << dovetrel.unexpectedOutput();
    EXPECT_EQ(shown->width, 80);
    EXPECT_EQ(shown->height, 80);
    EXPECT_EQ(shown->x, kRestX - 40);
    EXPECT_EQ(shown->y, kRestY - 40);

    movePointer(display, kRestX + 30, kRestY + 30);
    EXPECT_FALSE(overlayGoes(display, 700ms)) << "movement inside the square took it down";

    int x = kRestX + 50;
    movePointer(display, x, kRestY);
    EXPECT_TRUE(overlayGoes(display)) << "movement out of the square left it up";

    // Twice the timeout of steady movement, and no square until it stops.
    for (auto moving = 0ms; moving < 2s; moving += 300ms) {
        std::this_thread::sleep_for(300ms);
        movePointer(display, x += 10, kRestY);
        ASSERT_FALSE(findOverlay(display)) << "shown after " << moving.count() << " ms";
    }
    const auto again = waitForGuardedOverlay(display);
    ASSERT_TRUE(again) << "no square once the pointer stopped";
    EXPECT_EQ(again->x, x - 40);
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

TEST(InputMonitor, TheSquareLeavesWithinItsFadeWhileThePointerMovesOnOrIsMovedForIt) {
    XSession session;
    Display* display = session.display();
    ClientWindow client(session, 100, 100, 800, 500);
    movePointer(display, kRestX, kRestY);
    Dovetrel dovetrel(session, kQuickSettings);
    ASSERT_TRUE(waitForGuardedOverlay(display));

    // Motion every 40 ms far from the square, for a second: each batch of it dismisses again,
    // and none may put off the end of the fade-out.
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    std::optional<Clock::duration> gone;
    int x = kRestX + 100;
    while (Clock::now() - start < 1s) {
        movePointer(display, x += 5, kRestY);
        if (!gone && !findOverlay(display)) {
            gone = Clock::now() - start;
        }
        std::this_thread::sleep_for(40ms);
    }
    ASSERT_TRUE(gone) << "the square stayed up as long as the pointer moved";
    EXPECT_LT(*gone, 400ms);
    const auto again = waitForGuardedOverlay(display);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->x, x - 40);

    // Moved by another program, the pointer brings no input event (XWarpPointer, as xdotool
    // and window managers do).
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, x - 200, kRestY);
    XSync(display, False);
    EXPECT_TRUE(overlayGoes(display, 500ms));
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

TEST(InputMonitor, KeysModifiersWheelAndDragsTakeTheSquareDownEvenWithoutGestures) {
    XSession session;
    Display* display = session.display();
    ClientWindow client(session, 100, 100, 800, 500);
    // Refused the gesture events, the monitor must still get everything else.
    holdGestures(display);
    movePointer(display, kRestX, kRestY);
    Dovetrel dovetrel(session, kQuickSettings);

    struct Case {
        std::string name;
        std::function<void()> before;  // before the square shows
        std::function<void()> action;  // while it is up, with the pointer inside it
        std::function<void()> after;   // once it has gone
    };
    const auto nothing = [] {};
    const Case cases[] = {
        {"a letter key", nothing, [&] { tapKey(display, "a"); }, nothing},
        // Only the release tells that the program learnt the new modifier map.
        {"a letter made a modifier, released",
         [&] {
             setMod3Key(display, "a", true);
             holdKey(display, "a", true);
         },
         [&] { holdKey(display, "a", false); }, [&] { setMod3Key(display, "a", false); }},
        {"wheel up", nothing, [&] { click(display, 4); }, nothing},
        // The client window holds an implicit grab while the button is down: only raw events
        // announced for XInput 2.2 or later still come.
        {"a drag inside", [&] { pressButton(display, 1); },
         [&] { movePointer(display, kRestX + 5, kRestY + 5); },
         [&] {
             releaseButton(display, 1);
             movePointer(display, kRestX, kRestY);
         }},
    };
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        test.before();
        ASSERT_TRUE(waitForGuardedOverlay(display)) << dovetrel.unexpectedOutput();
        test.action();
        EXPECT_TRUE(overlayGoes(display));
        test.after();
    }
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
