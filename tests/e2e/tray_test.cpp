#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>

#include "e2e/panel_bus.h"
#include "e2e/x_session.h"

// Xlib after Qt: its macros break Qt's headers.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

namespace dovetrel::e2e {
namespace {

constexpr char kSettings[] = "[General]\nidleTimeout=1.5\n";

std::string readText(const std::string& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int ignoreErrors(Display*, XErrorEvent*) {
    return 0;
}

// `window` and every window below it whose WM_CLASS class is `windowClass`.
std::vector<Window> windowsOfClass(Display* display, Window window, const char* windowClass) {
    std::vector<Window> found;
    XClassHint hint{};
    if (XGetClassHint(display, window, &hint) != 0) {
        if (hint.res_class != nullptr && std::string(hint.res_class) == windowClass) {
            found.push_back(window);
        }
        XFree(hint.res_name);
        XFree(hint.res_class);
    }
    Window root = 0;
    Window parent = 0;
    Window* children = nullptr;
    unsigned count = 0;
    if (XQueryTree(display, window, &root, &parent, &children, &count) != 0) {
        for (unsigned i = 0; i < count; ++i) {
            const auto below = windowsOfClass(display, children[i], windowClass);
            found.insert(found.end(), below.begin(), below.end());
        }
        XFree(children);
    }
    return found;
}

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

ChildProcess startTrayer(XSession& session) {
    return ChildProcess(
        {"trayer", "--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"},
        session.environment());
}

class Tray : public ::testing::Test {
  protected:
    // Windows come and go while the tests look at the tree (menus, docking, window-manager
    // frames); Xlib's default handler would end the test process on the first stale id.
    void SetUp() override { previousHandler_ = XSetErrorHandler(ignoreErrors); }
    void TearDown() override { XSetErrorHandler(previousHandler_); }

  private:
    XErrorHandler previousHandler_ = nullptr;
};

// Status items register on the session bus; the menu is then driven as a panel would drive
// it, the watcher arriving after the program as it does when the program starts at login.
TEST_F(Tray, ExportsItsMenuToAStatusNotifierHostAndKeepsItCurrent) {
    XSession session;
    PanelBus panel;
    Dovetrel dovetrel(session, kSettings, {panel.environment()});
    ASSERT_TRUE(waitFor([&] { return findOverlay(session.display()).has_value(); }, 10s))
        << dovetrel.unexpectedOutput();
    ASSERT_TRUE(panel.startWatcher());
    ASSERT_TRUE(panel.findItemMenu()) << dovetrel.unexpectedOutput();

    MenuNode menu = panel.openMenu();
    EXPECT_EQ(menu.labels(), (std::vector<std::string>{"Enabled", "Snooze", "-", "Settings\u2026",
                                                       "-", "Quit Dovetrel"}));
    EXPECT_TRUE(menu.child("Enabled").checked());
    EXPECT_EQ(menu.child("Snooze").labels(),
              (std::vector<std::string>{"5 minutes", "10 minutes", "15 minutes", "30 minutes",
                                        "1 hour"}));
    EXPECT_EQ(menu.child("Settings\u2026").shortcut(), "Control+,");
    EXPECT_EQ(menu.child("Quit Dovetrel").shortcut(), "Control+Q");

    // The host asked before showing but never says it closed: timers must not wait for it.
    movePointer(session.display(), 200, 200);
    EXPECT_TRUE(waitFor([&] { return !findOverlay(session.display()); }));
    EXPECT_TRUE(waitFor([&] { return findOverlay(session.display()).has_value(); }, 10s));

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

TEST_F(Tray, DocksIntoAnXEmbedTrayAndGuards) {
    XSession session;
    PanelBus panel;
    ChildProcess trayer = startTrayer(session);
    ASSERT_TRUE(waitFor([&] {
        return !windowsOfClass(session.display(), DefaultRootWindow(session.display()), "trayer")
                    .empty();
    }));
    Dovetrel dovetrel(session, kSettings, {panel.environment()});
    EXPECT_TRUE(waitFor([&] { return dockedIcon(session.display()).has_value(); }, 10s));
    EXPECT_TRUE(waitFor([&] { return findOverlay(session.display()).has_value(); }, 10s));
    EXPECT_TRUE(dovetrel.process().isRunning());
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

// Nothing to show the icon in: the program runs and guards all the same, past the time it
// waits for a panel, and docks into a tray that comes later.
TEST_F(Tray, RunsWithoutAnyTrayHostAndDocksIntoALaterOne) {
    XSession session;
    PanelBus panel;
    Dovetrel dovetrel(session, kSettings, {panel.environment()});
    EXPECT_TRUE(waitFor([&] { return findOverlay(session.display()).has_value(); }, 10s));
    EXPECT_FALSE(dovetrel.process().waitForExit(6s).has_value());
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");

    ChildProcess trayer = startTrayer(session);
    EXPECT_TRUE(waitFor([&] { return dockedIcon(session.display()).has_value(); }, 10s));
    EXPECT_TRUE(dovetrel.process().isRunning());
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

// The pictures for the README, taken in an XEmbed tray at twice the pixel density. Run with
// DOVETREL_SCREENSHOT_DIR=docs and --gtest_also_run_disabled_tests.
TEST_F(Tray, DISABLED_Screenshots) {
    const char* folder = std::getenv("DOVETREL_SCREENSHOT_DIR");
    if (folder == nullptr) {
        GTEST_SKIP() << "DOVETREL_SCREENSHOT_DIR names no folder";
    }
    constexpr int width = 640;
    XSession session({.width = width, .height = 400});
    Display* display = session.display();
    XSetWindowBackground(display, DefaultRootWindow(display), 0x5b7083);
    XClearWindow(display, DefaultRootWindow(display));
    XSync(display, False);
    ChildProcess trayer(
        {"trayer", "--edge", "top", "--align", "right", "--widthtype", "percent", "--width", "100",
         "--height", "48", "--tint", "0xe4e4e4", "--transparent", "true", "--alpha", "0"},
        session.environment());
    PanelBus panel;
    const std::vector<std::string> environment = {panel.environment(), "QT_SCALE_FACTOR=2"};
    const auto shoot = [&](const std::string& name, int x, int y, int width, int height) {
        const std::string path = std::string(folder) + "/" + name;
        const std::string command = "import -display " + session.displayName() +
                                    " -window root -crop " + std::to_string(width) + "x" +
                                    std::to_string(height) + "+" + std::to_string(x) + "+" +
                                    std::to_string(y) + " +repage " + path;
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    };
    const auto iconFrame = [&] {
        std::optional<XWindowAttributes> frame;
        waitFor(
            [&] {
                const auto icon = dockedIcon(display);
                XWindowAttributes attributes{};
                if (!icon || XGetWindowAttributes(display, *icon, &attributes) == 0 ||
                    attributes.map_state != IsViewable) {
                    return false;
                }
                Window child = 0;
                XTranslateCoordinates(display, *icon, DefaultRootWindow(display), 0, 0,
                                      &attributes.x, &attributes.y, &child);
                frame = attributes;
                return true;
            },
            10s);
        EXPECT_TRUE(frame.has_value());
        return frame.value_or(XWindowAttributes{});
    };
    // Long enough for the drawing to reach the screen.
    const auto settle = [] { std::this_thread::sleep_for(1s); };

    for (const bool enabled : {true, false}) {
        Dovetrel dovetrel(session,
                          std::string("[General]\nidleTimeout=600\nisEnabled=") +
                              (enabled ? "true" : "false") + "\n",
                          environment);
        const XWindowAttributes icon = iconFrame();
        settle();
        shoot(enabled ? "tray-active.png" : "tray-inactive.png", width - 160, 0, 160,
              icon.height + 8);
        if (enabled) {
            movePointer(display, icon.x + icon.width / 2, icon.y + icon.height / 2);
            click(display, 1);
            std::optional<OverlayInfo> menu;
            ASSERT_TRUE(waitFor([&] {
                for (const Window window :
                     windowsOfClass(display, DefaultRootWindow(display), "dovetrel")) {
                    XWindowAttributes attributes{};
                    if (XGetWindowAttributes(display, window, &attributes) != 0 &&
                        attributes.override_redirect && attributes.map_state == IsViewable &&
                        attributes.width > 100) {
                        menu = OverlayInfo{window, attributes.x, attributes.y, attributes.width,
                                           attributes.height};
                        return true;
                    }
                }
                return false;
            }));
            settle();
            const int left = std::max(0, menu->x - 24);
            shoot("tray-menu.png", left, 0, width - left, menu->y + menu->height + 24);
            tapKey(display, "Escape");
        }
        dovetrel.process().signal(SIGTERM);
        dovetrel.process().waitForExit();
    }
}

}  // namespace
}  // namespace dovetrel::e2e
