// How the window manager presents the real program's settings window: its title, and where
// its frame sits on the screen.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "e2e/panel_bus.h"
#include "e2e/x_session.h"

// Xlib after Qt: its macros break Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace dovetrel::e2e {
namespace {

std::vector<unsigned char> property(Display* display, Window window, const char* name) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned char> bytes;
    if (XGetWindowProperty(display, window, XInternAtom(display, name, False), 0, 4096, False,
                           AnyPropertyType, &type, &format, &count, &after, &data) == Success &&
        data != nullptr) {
        const std::size_t unit = format == 32 ? sizeof(long) : std::size_t(format / 8);
        bytes.assign(data, data + count * unit);
        XFree(data);
    }
    return bytes;
}

// The managed window whose title, as the window manager shows it (_NET_WM_NAME), begins with
// "Dovetrel Settings"; with its full title.
std::optional<std::pair<Window, std::string>> settingsWindow(Display* display) {
    const auto list = property(display, DefaultRootWindow(display), "_NET_CLIENT_LIST");
    const auto* windows = reinterpret_cast<const Window*>(list.data());
    for (std::size_t i = 0; i < list.size() / sizeof(Window); ++i) {
        const auto name = property(display, windows[i], "_NET_WM_NAME");
        const std::string title(name.begin(), name.end());
        if (title.rfind("Dovetrel Settings", 0) == 0) {
            return std::pair(windows[i], title);
        }
    }
    return std::nullopt;
}

// The centre of the frame the window manager put around `window`, in root coordinates.
std::pair<int, int> frameCentre(Display* display, Window window) {
    Window root = 0;
    Window parent = window;
    Window* children = nullptr;
    unsigned int count = 0;
    Window frame = window;
    while (XQueryTree(display, frame, &root, &parent, &children, &count) != 0) {
        if (children != nullptr) {
            XFree(children);
        }
        if (parent == root) {
            break;
        }
        frame = parent;
    }
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, frame, &attributes);
    return {attributes.x + attributes.width / 2, attributes.y + attributes.height / 2};
}

void closeWindow(Display* display, Window window) {
    XEvent close{};
    close.xclient.type = ClientMessage;
    close.xclient.window = window;
    close.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    close.xclient.format = 32;
    close.xclient.data.l[0] = long(XInternAtom(display, "WM_DELETE_WINDOW", False));
    close.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, window, False, NoEventMask, &close);
    XSync(display, False);
}

TEST(SettingsPresentation, TitledOnceAndCentredWithItsFrame) {
    XSession session;
    const auto ignoreErrors = XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    PanelBus tray;
    ASSERT_TRUE(tray.startWatcher());
    Dovetrel dovetrel(session, "", {tray.environment()});
    Display* display = session.display();
    movePointer(display, 5, 5);
    ASSERT_TRUE(tray.findItemMenu()) << dovetrel.unexpectedOutput();

    // The first window is framed after it is placed; the second knows the frame already.
    for (const char* opening : {"first", "again after a close"}) {
        SCOPED_TRACE(opening);
        ASSERT_TRUE(tray.choose(QStringLiteral("Settings\u2026")));
        ASSERT_TRUE(waitFor([&] { return settingsWindow(display).has_value(); }));
        const Window window = settingsWindow(display)->first;
        EXPECT_EQ(settingsWindow(display)->second, "Dovetrel Settings");
        ASSERT_TRUE(waitForEventLoop(display, window));
        std::pair<int, int> centre;
        EXPECT_TRUE(waitFor([&] {
            centre = frameCentre(display, window);
            return std::abs(centre.first - 640) <= 1 && std::abs(centre.second - 400) <= 1;
        })) << "frame centred at "
            << centre.first << "," << centre.second;
        closeWindow(display, window);
        ASSERT_TRUE(waitFor([&] { return !settingsWindow(display).has_value(); }));
    }
    XSetErrorHandler(ignoreErrors);
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
