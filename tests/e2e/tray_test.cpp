#include <gtest/gtest.h>

#include "e2e/panel_bus.h"
#include "support/x_session.h"

// Xlib after Qt: its macros break Qt's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace dovetrel::e2e {
using namespace support;
namespace {

constexpr char kSettings[] = "[General]\nidleTimeout=1.5\n";

// The window of Dovetrel's icon docked in trayer's panel, if any.
std::optional<Window> dockedIcon(Display* display) {
    for (const Window panel : windowsOfClass(display, DefaultRootWindow(display), "trayer")) {
        const auto icons = windowsOfClass(display, panel, "dovetrel");
        if (!icons.empty()) {
            return icons.front();
        }
    }
    return std::nullopt;
}

// Windows come and go while the tests look at the tree (menus, docking, window-manager
// frames).
class Tray : public ::testing::Test {
  protected:
    XSession session;
    const XErrorTrap trap{session.display()};
    PanelBus panel;
};

// Status items register on the session bus; the menu is then driven as a panel would drive
// it, the watcher arriving after the program as it does when the program starts at login.
TEST_F(Tray, ExportsItsMenuToAStatusNotifierHostAndKeepsItCurrent) {
    Dovetrel dovetrel(session, kSettings, {panel.environment()});
    ASSERT_TRUE(waitForGuardedOverlay(session.display())) << dovetrel.unexpectedOutput();
    ASSERT_TRUE(panel.startWatcher());
    ASSERT_TRUE(panel.findItemMenu()) << dovetrel.unexpectedOutput();

    MenuNode menu = panel.openMenu();
    EXPECT_TRUE(menu.child("Enabled").checked());
    EXPECT_EQ(menu.child("Settings\u2026").shortcut(), "Control+,");
    EXPECT_EQ(menu.child("Quit Dovetrel").shortcut(), "Control+Q");

    // The host asked before showing but never says it closed: timers must not wait for it.
    movePointer(session.display(), 200, 200);
    EXPECT_TRUE(overlayGoes(session.display()));
    EXPECT_TRUE(waitForGuardedOverlay(session.display()));

    panel.click(menu.child("Snooze").child("5 minutes"));
    menu = panel.openMenu();
    const MenuNode snoozed = menu.children.at(1);
    EXPECT_EQ(snoozed.label(), "Snoozed \u2014 4m 59s left");
    EXPECT_EQ(snoozed.labels(), std::vector<std::string>{"Cancel Snooze"});

    // From here on the host never asks: each choice alone brings the menu up to date.
    panel.click(snoozed.child("Cancel Snooze"));
    EXPECT_TRUE(waitFor([&] {
        menu = panel.layout();
        return menu.children.at(1).label() == "Snooze" && menu.children.at(1).children.size() == 5;
    }));

    panel.click(menu.child("Enabled"));
    EXPECT_TRUE(waitFor([&] {
        return readText(dovetrel.settingsPath()).find("isEnabled=false") != std::string::npos;
    }));
    EXPECT_TRUE(waitFor([&] {
        menu = panel.layout();
        return !menu.child("Enabled").checked();
    }));
    // Still a check box, not a plain command.
    EXPECT_EQ(menu.child("Enabled").properties.value("toggle-type").toString(), "checkmark");

    const std::string settings = readText(dovetrel.settingsPath());
    panel.click(menu.child("Quit Dovetrel"));
    EXPECT_EQ(dovetrel.process().waitForExit(10s), 0);
    EXPECT_EQ(readText(dovetrel.settingsPath()), settings);
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

// Nothing to show the icon in: the program runs and guards all the same, past the time it
// waits for a panel, and docks into a tray that comes later.
TEST_F(Tray, RunsWithoutAnyTrayHostAndDocksIntoALaterOne) {
    Dovetrel dovetrel(session, kSettings, {panel.environment()});
    EXPECT_TRUE(waitForGuardedOverlay(session.display()));
    EXPECT_FALSE(dovetrel.process().waitForExit(6s).has_value());

    const ChildProcess trayer(
        {"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"},
        session.environment());
    EXPECT_TRUE(waitFor([&] { return dockedIcon(session.display()).has_value(); }, 10s));
    EXPECT_TRUE(dovetrel.process().isRunning());
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
