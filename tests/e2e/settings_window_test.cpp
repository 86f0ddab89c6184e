// The settings window of the real program, opened from its tray menu as a panel would open
// it, and looked at as the window manager and the screen see it.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "e2e/panel_bus.h"
#include "e2e/x_session.h"

// Xlib after Qt: its macros break Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace dovetrel::e2e {
namespace {

std::vector<Window> windowListProperty(Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<Window> values;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 1024, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
        if (format == 32) {
            const auto* items = reinterpret_cast<const unsigned long*>(data);
            values.assign(items, items + count);
        }
        XFree(data);
    }
    return values;
}

// The managed windows titled "Dovetrel Settings".
std::vector<Window> settingsWindows(Display* display) {
    std::vector<Window> found;
    for (const Window window :
         windowListProperty(display, DefaultRootWindow(display), "_NET_CLIENT_LIST")) {
        char* title = nullptr;
        if (XFetchName(display, window, &title) != 0 && title != nullptr) {
            if (std::string(title) == "Dovetrel Settings") {
                found.push_back(window);
            }
            XFree(title);
        }
    }
    return found;
}

bool isAbove(Display* display, Window window) {
    const Atom above = XInternAtom(display, "_NET_WM_STATE_ABOVE", False);
    for (const auto state : windowListProperty(display, window, "_NET_WM_STATE")) {
        if (state == above) {
            return true;
        }
    }
    return false;
}

// The pixels of the window that show the status pill's green dot.
std::vector<std::pair<int, int>> greenDot(Display* display, Window window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    XImage* image = XGetImage(display, window, 0, 0, unsigned(attributes.width),
                              unsigned(attributes.height), AllPlanes, ZPixmap);
    std::vector<std::pair<int, int>> dot;
    if (image == nullptr) {
        return dot;
    }
    for (int y = 0; y < attributes.height; ++y) {
        for (int x = 0; x < attributes.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const int red = int((pixel >> 16) & 0xff);
            const int green = int((pixel >> 8) & 0xff);
            const int blue = int(pixel & 0xff);
            if (std::abs(red - 52) < 16 && std::abs(green - 199) < 16 && std::abs(blue - 89) < 16) {
                dot.emplace_back(x, y);
            }
        }
    }
    XDestroyImage(image);
    return dot;
}

int greenDotPixels(Display* display, Window window) {
    return int(greenDot(display, window).size());
}

// While it lives, a protocol error (a window that went away while being looked at) fails
// only the request that met it, instead of ending the test.
class IgnoredXErrors {
  public:
    IgnoredXErrors() : previous_(XSetErrorHandler([](Display*, XErrorEvent*) { return 0; })) {}
    ~IgnoredXErrors() { XSetErrorHandler(previous_); }
    IgnoredXErrors(const IgnoredXErrors&) = delete;
    IgnoredXErrors& operator=(const IgnoredXErrors&) = delete;

  private:
    XErrorHandler previous_;
};

TEST(SettingsWindow, OpensOnceFromTheTrayFollowsThePreferencesAndComesBackFresh) {
    XSession session;
    const IgnoredXErrors ignored;
    PanelBus tray;
    ASSERT_TRUE(tray.startWatcher());
    Dovetrel dovetrel(session, "", {tray.environment()});
    Display* display = session.display();
    // The overlay will come up where the pointer rests: keep it off the window.
    movePointer(display, 5, 5);
    ASSERT_TRUE(tray.findItemMenu()) << dovetrel.unexpectedOutput();

    ASSERT_TRUE(tray.choose(QStringLiteral("Settings\u2026")));
    ASSERT_TRUE(waitFor([&] { return settingsWindows(display).size() == 1; }))
        << dovetrel.unexpectedOutput();
    const Window window = settingsWindows(display).front();
    ASSERT_TRUE(waitForEventLoop(display, window));

    XSizeHints hints{};
    long supplied = 0;
    ASSERT_NE(XGetWMNormalHints(display, window, &hints, &supplied), 0);
    EXPECT_EQ(hints.min_width, 380);
    EXPECT_EQ(hints.max_width, 380);
    EXPECT_EQ(hints.min_height, hints.max_height) << "the user cannot resize it";
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    EXPECT_NEAR(x + 190, 1280 / 2, 2) << "centred across the screen";
    EXPECT_TRUE(waitFor([&] { return !isAbove(display, window); }, 3s))
        << "it must stop floating above other windows";

    // A second choice brings the same window forward.
    ASSERT_TRUE(tray.choose(QStringLiteral("Settings\u2026")));
    ASSERT_TRUE(waitForEventLoop(display, window));
    EXPECT_EQ(settingsWindows(display), std::vector<Window>{window});

    // The tray's Enabled item and a hand edit both reach the open window's status pill.
    EXPECT_TRUE(waitFor([&] { return greenDotPixels(display, window) > 20; }));
    ASSERT_TRUE(tray.choose(QStringLiteral("Enabled")));
    EXPECT_TRUE(waitFor([&] { return greenDotPixels(display, window) == 0; }));
    std::ofstream(dovetrel.settingsPath()) << "[General]\nisEnabled=true\n";
    EXPECT_TRUE(waitFor([&] { return greenDotPixels(display, window) > 20; }));

    // The close button ends this window; the next choice makes a new one.
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &close);
    XSync(display, False);
    ASSERT_TRUE(waitFor([&] { return settingsWindows(display).empty(); }));
    ASSERT_TRUE(tray.choose(QStringLiteral("Settings\u2026")));
    ASSERT_TRUE(waitFor([&] { return settingsWindows(display).size() == 1; }));
    EXPECT_NE(settingsWindows(display).front(), window);

    EXPECT_TRUE(dovetrel.process().isRunning());
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

TEST(SettingsWindow, IsWorkedInWithoutASquareAndEveryClickLands) {
    XSession session;
    const IgnoredXErrors ignored;
    PanelBus tray;
    ASSERT_TRUE(tray.startWatcher());
    Dovetrel dovetrel(session, "[General]\nidleTimeout=1\n", {tray.environment()});
    Display* display = session.display();
    ASSERT_TRUE(tray.findItemMenu()) << dovetrel.unexpectedOutput();
    ASSERT_TRUE(tray.choose(QStringLiteral("Settings\u2026")));
    ASSERT_TRUE(waitFor([&] { return settingsWindows(display).size() == 1; }));
    const Window window = settingsWindows(display).front();
    ASSERT_TRUE(waitForEventLoop(display, window));
    int left = 0;
    int top = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &left, &top, &child);

    // Busy in the window for twice the timeout: its input counts like any other.
    for (int step = 0; step < 40; ++step) {
        movePointer(display, left + 100 + step % 7 * 20, top + 60 + step % 5 * 10);
        std::this_thread::sleep_for(50ms);
        ASSERT_FALSE(findOverlay(display)) << "after " << step * 50 << " ms";
    }
    // Clicks on the status pill land: the guard goes off and on again.
    ASSERT_TRUE(waitFor([&] { return greenDotPixels(display, window) > 20; }));
    const auto [dotX, dotY] = greenDot(display, window).front();
    for (const bool on : {false, true}) {
        movePointer(display, left + dotX, top + dotY);
        click(display, 1);
        EXPECT_TRUE(waitFor([&] { return (greenDotPixels(display, window) > 20) == on; }));
    }
    // At rest over the window, no square either.
    std::this_thread::sleep_for(2500ms);
    EXPECT_FALSE(findOverlay(display));
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
