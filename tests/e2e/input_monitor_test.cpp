#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "e2e/x_session.h"

// Xlib defines macros (None, Bool, Status) that break gtest's headers: it comes last.
#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

namespace dovetrel::e2e {
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

// A program that took the XInput 2.4 gesture events on the root window first, as a gesture
// daemon does: the server refuses them to every later client.
class GestureHolder {
  public:
    explicit GestureHolder(XSession& session)
        : display_(XOpenDisplay(session.displayName().c_str())) {
        int major = 2;
        int minor = 4;
        if (XIQueryVersion(display_, &major, &minor) != Success || minor < 4) {
            return;
        }
        unsigned char bits[XIMaskLen(XI_LASTEVENT)] = {};
        for (int event = XI_GesturePinchBegin; event <= XI_GestureSwipeEnd; ++event) {
            XISetMask(bits, event);
        }
        XIEventMask mask{XIAllMasterDevices, sizeof bits, bits};
        XISelectEvents(display_, DefaultRootWindow(display_), &mask, 1);
        XSync(display_, False);
    }
    ~GestureHolder() { XCloseDisplay(display_); }

  private:
    Display* display_;
};

TEST(InputMonitor, RestShowsTheSquareOnThePointerAndOnlyMovementOutOfItTakesItDown) {
    // At a device pixel ratio of 2 root pixels are twice Qt's: the square's 80 points cover
    // 160 pixels and the pointer must be converted before it is used as the centre.
    for (const int scale : {1, 2}) {
        SCOPED_TRACE("QT_SCALE_FACTOR=" + std::to_string(scale));
        XSession session;
        ClientWindow client(session, 100, 100, 800, 500);
        movePointer(session.display(), kRestX, kRestY);
        Dovetrel dovetrel(session, kQuickSettings, {"QT_SCALE_FACTOR=" + std::to_string(scale)});

        const auto shown = waitForGuardedOverlay(session.display());
        ASSERT_TRUE(shown) << dovetrel.unexpectedOutput();
        const int side = 80 * scale;
        EXPECT_EQ(shown->width, side);
        EXPECT_EQ(shown->height, side);
        EXPECT_EQ(shown->x, kRestX - side / 2);
        EXPECT_EQ(shown->y, kRestY - side / 2);

        movePointer(session.display(), kRestX + side / 2 - 10, kRestY + side / 2 - 10);
        EXPECT_FALSE(overlayGoes(session.display(), 700ms))
            << "movement inside the square took it down";

        const int outsideX = kRestX + side / 2 + 10;
        movePointer(session.display(), outsideX, kRestY);
        EXPECT_TRUE(overlayGoes(session.display())) << "movement out of the square left it up";

        const auto again = waitForGuardedOverlay(session.display());
        ASSERT_TRUE(again) << "no square after resting again";
        EXPECT_EQ(again->x, outsideX - side / 2);
        EXPECT_EQ(dovetrel.unexpectedOutput(), "");
    }
}

TEST(InputMonitor, MovementKeepsPostponingTheSquare) {
    XSession session;
    ClientWindow client(session, 100, 100, 800, 500);
    movePointer(session.display(), kRestX, kRestY);
    Dovetrel dovetrel(session, kQuickSettings);
    // The first square shows that the monitor is running before the pointer starts moving.
    ASSERT_TRUE(overlayShows(session.display())) << dovetrel.unexpectedOutput();
    movePointer(session.display(), kRestX + 200, kRestY);
    ASSERT_TRUE(overlayGoes(session.display()));

    int x = kRestX + 200;
    for (auto moving = 0ms; moving < 2s; moving += 300ms) {
        std::this_thread::sleep_for(300ms);
        x += 10;
        movePointer(session.display(), x, kRestY);
        ASSERT_FALSE(findOverlay(session.display())) << "shown after " << moving.count() << " ms";
    }
    ASSERT_TRUE(overlayShows(session.display())) << "no square once the pointer stopped";
    EXPECT_EQ(findOverlay(session.display())->x, x - 40);
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

TEST(InputMonitor, KeysModifiersWheelAndDragsTakeTheSquareDownEvenWithoutGestures) {
    XSession session;
    ClientWindow client(session, 100, 100, 800, 500);
    // Refused the gesture events, the monitor must still get everything else.
    const GestureHolder gestures(session);
    movePointer(session.display(), kRestX, kRestY);
    Dovetrel dovetrel(session, kQuickSettings);
    Display* display = session.display();

    struct Case {
        std::string name;
        std::function<void()> before;  // before the square shows
        std::function<void()> action;  // while it is up, with the pointer inside it
        std::function<void()> after;   // once it has gone
    };
    const auto nothing = [] {};
    std::vector<Case> cases = {
        {"a letter key", nothing, [&] { tapKey(display, "a"); }, nothing},
        {"Shift pressed alone", nothing, [&] { holdKey(display, "Shift_L", true); },
         [&] { holdKey(display, "Shift_L", false); }},
        {"Shift released, held since before the square", [&] { holdKey(display, "Shift_L", true); },
         [&] { holdKey(display, "Shift_L", false); }, nothing},
        {"Caps Lock released, pressed since before the square",
         [&] { holdKey(display, "Caps_Lock", true); },
         [&] { holdKey(display, "Caps_Lock", false); }, [&] { tapKey(display, "Caps_Lock"); }},
        // Only the release tells that the program learnt the new modifier map.
        {"a letter made a modifier, released",
         [&] {
             setMod3Key(display, "a", true);
             holdKey(display, "a", true);
         },
         [&] { holdKey(display, "a", false); }, [&] { setMod3Key(display, "a", false); }},
        {"wheel up", nothing, [&] { click(display, 4); }, nothing},
        {"wheel right", nothing, [&] { click(display, 7); }, nothing},
    };
    // The client window holds an implicit grab while the button is down: only raw events
    // announced for XInput 2.2 or later still come.
    for (const int button : {1, 2}) {
        cases.push_back({"a drag inside with button " + std::to_string(button),
                         [=] { pressButton(display, button); },
                         [=] { movePointer(display, kRestX + 5, kRestY + 5); },
                         [=] {
                             releaseButton(display, button);
                             movePointer(display, kRestX, kRestY);
                         }});
    }
    for (const Case& test : cases) {
        SCOPED_TRACE(test.name);
        test.before();
        ASSERT_TRUE(overlayShows(session.display())) << dovetrel.unexpectedOutput();
        test.action();
        EXPECT_TRUE(overlayGoes(session.display()));
        test.after();
    }
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
