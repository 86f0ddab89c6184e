#include <gtest/gtest.h>

#include <QDBusMetaType>
#include <QTemporaryDir>
#include <algorithm>
#include <fstream>

#include "e2e/panel_bus.h"
#include "support/x_session.h"

// Xlib after Qt: its macros break Qt's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace dovetrel::e2e {
using namespace support;
namespace {

constexpr char kSettings[] = "[General]\nidleTimeout=1.5\n";

// The window of Dovetrel's icon docked in the panel of that class, if any.
std::optional<Window> dockedIcon(Display* display, const char* panelClass = "trayer") {
    for (const Window panel : windowsOfClass(display, DefaultRootWindow(display), panelClass)) {
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

    // Every click shows the panel's own rendering of this one menu, and the panel draws the
    // icon by name, in its own colours.
    EXPECT_TRUE(panel.itemProperty("ItemIsMenu").toBool());
    EXPECT_EQ(panel.itemProperty("IconName").toString(), "app.dovetrel.Dovetrel-active-symbolic");
    MenuNode menu = panel.openMenu();
    EXPECT_TRUE(menu.child("Enabled").checked());
    EXPECT_EQ(menu.child("Settings\u2026").shortcut(), "Control+comma");
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

    // A call in another shape than the method's is refused, and the menu answers on.
    qDBusRegisterMetaType<QList<QList<int>>>();
    for (const auto& [method, argument] :
         {std::pair{"EventGroup", QVariant(QStringList{"1", "clicked"})},
          {"AboutToShowGroup", QVariant::fromValue(QList<QList<int>>{{1}})}}) {
        EXPECT_EQ(panel.call(method, {argument}).type(), QDBusMessage::ErrorMessage) << method;
    }
    EXPECT_FALSE(panel.layout().child("Enabled").checked());

    const std::string settings = readText(dovetrel.settingsPath());
    panel.click(menu.child("Quit Dovetrel"));
    EXPECT_EQ(dovetrel.process().waitForExit(10s), 0);
    EXPECT_EQ(readText(dovetrel.settingsPath()), settings);
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

// Nothing to show the icon in: the program runs and guards all the same, past the time it
// waits for a panel, and docks into a tray that comes later; then moves to a status notifier
// host that comes later still, and back to the tray when that host goes.
TEST_F(Tray, FollowsTrayHostsThatComeAfterItAndGo) {
    Dovetrel dovetrel(session, kSettings, {panel.environment()});
    EXPECT_TRUE(waitForGuardedOverlay(session.display()));
    EXPECT_FALSE(dovetrel.process().waitForExit(6s).has_value());

    const ChildProcess trayer(
        {"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"},
        session.environment());
    EXPECT_TRUE(waitFor([&] { return dockedIcon(session.display()).has_value(); }, 10s));

    ASSERT_TRUE(panel.startWatcher());
    ASSERT_TRUE(panel.findItemMenu()) << dovetrel.unexpectedOutput();
    EXPECT_TRUE(waitFor([&] { return !dockedIcon(session.display()).has_value(); }));
    EXPECT_TRUE(panel.openMenu().child("Enabled").checked());

    panel.stopWatcher();
    EXPECT_TRUE(waitFor([&] { return dockedIcon(session.display()).has_value(); }, 10s));
    EXPECT_TRUE(dovetrel.process().isRunning());
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

// The luminances of the screen's pixels where `window` is.
std::vector<double> luminances(Display* display, Window window) {
    XWindowAttributes attributes{};
    Window child = 0;
    int x = 0;
    int y = 0;
    if (XGetWindowAttributes(display, window, &attributes) == 0 ||
        !XTranslateCoordinates(display, window, DefaultRootWindow(display), 0, 0, &x, &y, &child)) {
        return {};
    }
    XImage* image = XGetImage(display, DefaultRootWindow(display), x, y, attributes.width,
                              attributes.height, AllPlanes, ZPixmap);
    std::vector<double> result;
    for (int row = 0; image != nullptr && row < image->height; ++row) {
        for (int column = 0; column < image->width; ++column) {
            const unsigned long pixel = XGetPixel(image, column, row);
            result.push_back((0.2126 * double((pixel >> 16) & 0xff) +
                              0.7152 * double((pixel >> 8) & 0xff) +
                              0.0722 * double(pixel & 0xff)) /
                             255);
        }
    }
    if (image != nullptr) {
        XDestroyImage(image);
    }
    return result;
}

// tint2's panel, black by default, announces no colours: the icon's pixels must still stand
// out from it, in both states, and the two states must differ; on a light panel as well.
TEST_F(Tray, StandsOutOnDarkAndLightTraysInBothStates) {
    const QTemporaryDir home;
    std::vector<std::string> environment = session.environment();
    environment.push_back("HOME=" + home.path().toStdString());
    std::string config = readText("/etc/xdg/tint2/tint2rc");
    for (const char* panelColour : {"#000000 60", "#eeeeee 100"}) {
        SCOPED_TRACE(panelColour);
        config.replace(config.find("background_color = ") + 19, 10, panelColour);
        std::ofstream(home.filePath("tint2rc").toStdString()) << config;
        const ChildProcess tint2({"tint2", "-c", home.filePath("tint2rc").toStdString()},
                                 environment);
        Dovetrel dovetrel(session, "[General]\nidleTimeout=600\n", {panel.environment()});
        std::optional<Window> icon;
        ASSERT_TRUE(waitFor(
            [&] { return (icon = dockedIcon(session.display(), "Tint2")).has_value(); }, 10s));
        std::vector<double> shown;
        // The brightest pixel over the darkest: a quarter of the scale is plainly visible.
        const auto standsOut = [&] {
            shown = luminances(session.display(), *icon);
            return !shown.empty() && *std::max_element(shown.begin(), shown.end()) -
                                             *std::min_element(shown.begin(), shown.end()) >
                                         0.25;
        };
        EXPECT_TRUE(waitFor(standsOut));
        const std::vector<double> active = shown;

        std::ofstream(dovetrel.settingsPath()) << "[General]\nidleTimeout=600\nisEnabled=false\n";
        EXPECT_TRUE(waitFor([&] { return standsOut() && shown != active; }));
        EXPECT_EQ(dovetrel.unexpectedOutput(), "");
    }
}

}  // namespace
}  // namespace dovetrel::e2e
