// The settings window of the real program, opened from its tray menu as a panel would open
// it, and looked at as the window manager and the screen see it: its title, where its frame
// sits, and what its status pill shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "e2e/panel_bus.h"
#include "support/x_session.h"

// Xlib after Qt: its macros break Qt's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace dovetrel::e2e {
using namespace support;
namespace {

// The managed windows whose title, as the window manager shows it, begins with "Dovetrel
// Settings".
std::vector<Window> settingsWindows(Display* display) {
    std::vector<Window> found;
    for (const Window window :
         windowProperty(display, DefaultRootWindow(display), "_NET_CLIENT_LIST")) {
        if (windowText(display, window, "_NET_WM_NAME").rfind("Dovetrel Settings", 0) == 0) {
            found.push_back(window);
        }
    }
    return found;
}

// The centre of the frame the window manager put around `window`, in root coordinates.
std::pair<int, int> frameCentre(Display* display, Window window) {
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, window, &attributes);
    int x = 0;
    int y = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child);
    // Left, right, top and bottom.
    auto extents = windowProperty(display, window, "_NET_FRAME_EXTENTS");
    extents.resize(4);
    return {x + (attributes.width + int(extents[1]) - int(extents[0])) / 2,
            y + (attributes.height + int(extents[3]) - int(extents[2])) / 2};
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

// The real program on a desktop whose panel shows its tray menu.
class SettingsWindow : public ::testing::Test {
  protected:
    void launch(const std::string& settings = "") {
        ASSERT_TRUE(tray.startWatcher());
        dovetrel.emplace(session, settings, std::vector<std::string>{tray.environment()});
        // The overlay will come up where the pointer rests: keep it off the window.
        movePointer(display, 5, 5);
        ASSERT_TRUE(tray.findItemMenu()) << dovetrel->unexpectedOutput();
    }

    // Chooses "Settings…" and waits for the one settings window.
    Window open() {
        tray.click(tray.layout().child("Settings\u2026"));
        EXPECT_TRUE(waitFor([&] { return settingsWindows(display).size() == 1; }))
            << dovetrel->unexpectedOutput();
        const auto windows = settingsWindows(display);
        return windows.empty() ? None : windows.front();
    }

    XSession session;
    Display* display = session.display();
    const XErrorTrap trap{display};
    PanelBus tray;
    std::optional<Dovetrel> dovetrel;
};

TEST_F(SettingsWindow, OpensOnceFromTheTrayCentredFollowsThePreferencesAndComesBackFresh) {
    launch();

    // The first window is framed after it is placed; the second knows the frame already.
    Window first = None;
    for (const char* opening : {"first", "again after a close"}) {
        SCOPED_TRACE(opening);
        const Window window = open();
        ASSERT_NE(window, None);
        EXPECT_NE(window, first);
        EXPECT_EQ(windowText(display, window, "_NET_WM_NAME"), "Dovetrel Settings");
        ASSERT_TRUE(waitForEventLoop(display, window));
        std::pair<int, int> centre;
        EXPECT_TRUE(waitFor([&] {
            centre = frameCentre(display, window);
            return std::abs(centre.first - 640) <= 1 && std::abs(centre.second - 400) <= 1;
        })) << "frame centred at "
            << centre.first << "," << centre.second;
        const Atom above = XInternAtom(display, "_NET_WM_STATE_ABOVE", False);
        EXPECT_TRUE(waitFor(
            [&] {
                const auto states = windowProperty(display, window, "_NET_WM_STATE");
                return std::count(states.begin(), states.end(), above) == 0;
            },
            3s))
            << "it must stop floating above other windows";
        if (first == None) {
            first = window;
            // A second choice brings the same window forward.
            tray.click(tray.layout().child("Settings\u2026"));
            ASSERT_TRUE(waitForEventLoop(display, window));
            EXPECT_EQ(settingsWindows(display), std::vector<Window>{window});

            // The tray's Enabled item reaches the open window's pill.
            EXPECT_TRUE(waitFor([&] { return greenDot(display, window).size() > 20; }));
            tray.click(tray.layout().child("Enabled"));
            EXPECT_TRUE(waitFor([&] { return greenDot(display, window).empty(); }));
        }
        // The close button ends this window; the next choice makes a new one.
        sendClientMessage(display, window, "WM_PROTOCOLS",
                          {long(XInternAtom(display, "WM_DELETE_WINDOW", False)), CurrentTime});
        ASSERT_TRUE(waitFor([&] { return settingsWindows(display).empty(); }));
    }
    EXPECT_TRUE(dovetrel->process().isRunning());
    EXPECT_EQ(dovetrel->unexpectedOutput(), "");
}

TEST_F(SettingsWindow, EveryClickLandsAndNoSquareShowsOverIt) {
    launch("[General]\nidleTimeout=1\n");
    const Window window = open();
    ASSERT_NE(window, None);
    ASSERT_TRUE(waitForEventLoop(display, window));
    int left = 0;
    int top = 0;
    Window child = 0;
    XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &left, &top, &child);

    // Clicks on the status pill land: the guard goes off and on again.
    ASSERT_TRUE(waitFor([&] { return greenDot(display, window).size() > 20; }));
    const auto [dotX, dotY] = greenDot(display, window).front();
    for (const bool on : {false, true}) {
        movePointer(display, left + dotX, top + dotY);
        click(display, 1);
        EXPECT_TRUE(waitFor([&] { return (greenDot(display, window).size() > 20) == on; }));
    }
    // At rest over its own window, the program shows no square.
    std::this_thread::sleep_for(2500ms);
    EXPECT_FALSE(findOverlay(display));
    EXPECT_EQ(dovetrel->unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
