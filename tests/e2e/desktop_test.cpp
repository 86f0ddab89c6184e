#include <gtest/gtest.h>
#include <unistd.h>

#include <initializer_list>

#include "e2e/panel_bus.h"
#include "support/x_session.h"

// Last: Xlib's macros (None, Bool, Status) break gtest's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>

namespace dovetrel::e2e {
using namespace support;
namespace {

const std::string kSettings = "[General]\nidleTimeout=1\n";

std::optional<unsigned long> rootCardinal(Display* display, const char* name) {
    const auto values = windowProperty(display, DefaultRootWindow(display), name);
    return values.size() == 1 ? std::optional(values.front()) : std::nullopt;
}

void setOwnerPid(Display* display, Window window, long pid) {
    XChangeProperty(display, window, XInternAtom(display, "_NET_WM_PID", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<unsigned char*>(&pid), 1);
    XSync(display, False);
}

// Activates `window` as a pager would, which window managers never refuse.
bool activate(Display* display, Window window) {
    sendClientMessage(display, window, "_NET_ACTIVE_WINDOW", {2, CurrentTime, 0}, true);
    return waitFor([&] { return rootCardinal(display, "_NET_ACTIVE_WINDOW") == window; });
}

bool switchDesktop(Display* display, long desktop) {
    sendClientMessage(display, DefaultRootWindow(display), "_NET_CURRENT_DESKTOP",
                      {desktop, CurrentTime}, true);
    return waitFor([&] {
        return rootCardinal(display, "_NET_CURRENT_DESKTOP") == static_cast<unsigned long>(desktop);
    });
}

void makeFullScreen(Display* display, Window window) {
    sendClientMessage(display, window, "_NET_WM_STATE",
                      {1, long(XInternAtom(display, "_NET_WM_STATE_FULLSCREEN", False)), 0, 1},
                      true);
}

bool hasSize(Display* display, Window window, int width, int height) {
    XWindowAttributes attributes{};
    return XGetWindowAttributes(display, window, &attributes) != 0 && attributes.width == width &&
           attributes.height == height;
}

// A pointer image of 16 x 16 pixels that are all transparent, as programs use to hide the
// pointer.
Cursor blankCursor(Display* display) {
    const Pixmap empty = XCreatePixmap(display, DefaultRootWindow(display), 16, 16, 1);
    GC gc = XCreateGC(display, empty, 0, nullptr);
    XFillRectangle(display, empty, gc, 0, 0, 16, 16);
    XFreeGC(display, gc);
    XColor black{};
    const Cursor cursor = XCreatePixmapCursor(display, empty, empty, &black, &black, 0, 0);
    XFreePixmap(display, empty);
    return cursor;
}

TEST(Desktop, PointerHiddenByTheWindowUnderItKeepsTheOverlayAway) {
    XSession session;
    Display* display = session.display();
    ClientWindow client(session, 200, 150, 600, 400);
    movePointer(display, 500, 350);
    Dovetrel dovetrel(session, kSettings);
    ASSERT_TRUE(waitForGuardedOverlay(display)) << dovetrel.unexpectedOutput();

    const Cursor blank = blankCursor(display);
    XDefineCursor(display, client.id(), blank);
    XSync(display, False);
    EXPECT_TRUE(overlayGoes(display));
    EXPECT_FALSE(waitForGuardedOverlay(display, 2500ms));

    XUndefineCursor(display, client.id());
    XFreeCursor(display, blank);
    XSync(display, False);
    // A rest starts with the next movement (this relies on the input monitor).
    movePointer(display, 510, 350);
    EXPECT_TRUE(waitForGuardedOverlay(display));
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

TEST(Desktop, FullScreenWindowOfTheActiveProgramKeepsTheOverlayAway) {
    XSession session;
    Display* display = session.display();
    // Another program's full-screen window behind does not count.
    ClientWindow other(session, 0, 0, 300, 200);
    setOwnerPid(display, other.id(), getppid());
    makeFullScreen(display, other.id());
    ASSERT_TRUE(waitFor([&] { return hasSize(display, other.id(), 1280, 800); }));
    // The test's own window carries no _NET_WM_PID: the server tells whose it is.
    ClientWindow own(session, 200, 150, 600, 400);
    ASSERT_TRUE(activate(display, own.id()));
    movePointer(display, 500, 350);
    {
        Dovetrel dovetrel(session, kSettings);
        EXPECT_TRUE(waitForGuardedOverlay(display)) << dovetrel.unexpectedOutput();
        EXPECT_EQ(dovetrel.unexpectedOutput(), "");
    }
    ASSERT_TRUE(overlayGoes(display));

    makeFullScreen(display, own.id());
    ASSERT_TRUE(waitFor([&] { return hasSize(display, own.id(), 1280, 800); }));
    ASSERT_TRUE(activate(display, own.id()));
    Dovetrel dovetrel(session, kSettings);
    // Several idle firings fall in this period, each failing on the full-screen window.
    EXPECT_FALSE(waitForGuardedOverlay(display, 4s));
    EXPECT_TRUE(dovetrel.process().isRunning());
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

// Each of these takes a shown overlay down; the dismissal arms a fresh rest, so the overlay
// comes back before the next one.
TEST(Desktop, AnotherProgramInFrontDesktopSwitchBlankingAndLockTakeTheOverlayDown) {
    XSession session;
    Display* display = session.display();
    ClientWindow first(session, 100, 100, 400, 300);
    ClientWindow second(session, 600, 100, 400, 300);
    ClientWindow another(session, 600, 450, 400, 300);
    setOwnerPid(display, first.id(), getpid());
    setOwnerPid(display, second.id(), getpid());
    setOwnerPid(display, another.id(), getppid());
    ASSERT_TRUE(activate(display, first.id()));
    movePointer(display, 300, 250);
    PanelBus bus;
    Dovetrel dovetrel(session, kSettings, {bus.environment()});
    ASSERT_TRUE(waitForGuardedOverlay(display)) << dovetrel.unexpectedOutput();

    ASSERT_TRUE(activate(display, second.id()));
    EXPECT_FALSE(overlayGoes(display, 800ms)) << "focus moved within one program";
    ASSERT_TRUE(activate(display, another.id()));
    EXPECT_TRUE(overlayGoes(display)) << "another program came to the front";

    ASSERT_TRUE(waitForGuardedOverlay(display));
    ASSERT_TRUE(switchDesktop(display, 1));
    EXPECT_TRUE(overlayGoes(display)) << "desktop switch";

    ASSERT_TRUE(waitForGuardedOverlay(display));
    XForceScreenSaver(display, ScreenSaverActive);
    XSync(display, False);
    EXPECT_TRUE(overlayGoes(display)) << "screen saver";
    // The dismissal armed a fresh countdown; over the blanked screen it shows nothing.
    EXPECT_FALSE(waitForGuardedOverlay(display, 2500ms)) << "shown over the screen saver";
    XForceScreenSaver(display, ScreenSaverReset);
    // Input after the screen comes back arms the countdown as usual.
    movePointer(display, 320, 250);

    ASSERT_TRUE(waitForGuardedOverlay(display));
    bus.emitSignal("/ScreenSaver", "org.freedesktop.ScreenSaver", "ActiveChanged", false);
    EXPECT_FALSE(overlayGoes(display, 800ms)) << "screen saver off";
    const std::pair<QString, QString> lockers[] = {
        {"/ScreenSaver", "org.freedesktop.ScreenSaver"},
        {"/org/gnome/ScreenSaver", "org.gnome.ScreenSaver"}};
    int x = 300;
    for (const auto& [path, interface] : lockers) {
        ASSERT_TRUE(waitForGuardedOverlay(display));
        bus.emitSignal(path, interface, "ActiveChanged", true);
        EXPECT_TRUE(overlayGoes(display)) << interface.toStdString();
        EXPECT_FALSE(waitForGuardedOverlay(display, 2500ms))
            << "shown over " << interface.toStdString();
        bus.emitSignal(path, interface, "ActiveChanged", false);
        movePointer(display, x += 20, 250);
    }
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
