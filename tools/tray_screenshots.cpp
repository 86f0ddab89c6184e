// Takes the README's tray pictures (tray-active.png, tray-inactive.png, tray-menu.png in a
// light panel, tray-dark.png with both states in a dark one) in an XEmbed tray on a private
// Xvfb at twice the pixel density. Run by hand:
//
//     build/dev/tools/tray_screenshots docs
//
// It needs Xvfb, trayer and ImageMagick's `import` and `convert`.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/x_session.h"

// Xlib after Qt: its macros break Qt's headers.
#include <X11/Xlib.h>

using namespace dovetrel::support;

namespace {

constexpr int kWidth = 640;

// The window of Dovetrel's icon docked in trayer's panel, with its place on the root window.
std::optional<XWindowAttributes> dockedIcon(Display* display) {
    for (const Window panel : windowsOfClass(display, DefaultRootWindow(display), "trayer")) {
        for (const Window icon : windowsOfClass(display, panel, "dovetrel")) {
            XWindowAttributes attributes{};
            Window child = 0;
            if (XGetWindowAttributes(display, icon, &attributes) != 0 &&
                attributes.map_state == IsViewable) {
                XTranslateCoordinates(display, icon, DefaultRootWindow(display), 0, 0,
                                      &attributes.x, &attributes.y, &child);
                return attributes;
            }
        }
    }
    return std::nullopt;
}

// Dovetrel's open menu: its override-redirect window wider than an icon.
std::optional<XWindowAttributes> openMenu(Display* display) {
    for (const Window window : windowsOfClass(display, DefaultRootWindow(display), "dovetrel")) {
        XWindowAttributes attributes{};
        if (XGetWindowAttributes(display, window, &attributes) != 0 &&
            attributes.override_redirect && attributes.map_state == IsViewable &&
            attributes.width > 100) {
            return attributes;
        }
    }
    return std::nullopt;
}

bool shoot(const XSession& session, const std::string& path, int x, int y, int width, int height) {
    const std::string command = "import -display " + session.displayName() +
                                " -window root -crop " + std::to_string(width) + "x" +
                                std::to_string(height) + "+" + std::to_string(x) + "+" +
                                std::to_string(y) + " +repage " + path;
    return std::system(command.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    XSession session({.width = kWidth, .height = 400});
    Display* display = session.display();
    const XErrorTrap trap(display);
    XSetWindowBackground(display, DefaultRootWindow(display), 0x5b7083);
    XClearWindow(display, DefaultRootWindow(display));
    XSync(display, False);
    // No session bus: the icon docks into the XEmbed tray.
    const std::vector<std::string> environment = {"DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent",
                                                  "QT_SCALE_FACTOR=2"};
    // Long enough for the drawing to reach the screen.
    const auto settle = [] { waitFor([] { return false; }, 1s); };

    for (const bool dark : {false, true}) {
        ChildProcess trayer(
            {"trayer", "--edge", "top", "--align", "right", "--widthtype", "percent", "--width",
             "100", "--height", "48", "--tint", dark ? "0x202124" : "0xe4e4e4", "--transparent",
             "true", "--alpha", "0"},
            session.environment());
        for (const bool enabled : {true, false}) {
            Dovetrel dovetrel(session,
                              std::string("[General]\nidleTimeout=600\nisEnabled=") +
                                  (enabled ? "true" : "false") + "\n",
                              environment);
            std::optional<XWindowAttributes> icon;
            if (!waitFor([&] { return (icon = dockedIcon(display)).has_value(); }, 10s)) {
                std::fprintf(stderr, "the icon did not dock: %s",
                             dovetrel.unexpectedOutput().c_str());
                return 1;
            }
            settle();
            const std::string name = dark ? (enabled ? "/tray-dark-on.png" : "/tray-dark-off.png")
                                     : enabled ? "/tray-active.png"
                                               : "/tray-inactive.png";
            if (!shoot(session, folder + name, kWidth - 160, 0, 160, icon->height + 8)) {
                return 1;
            }
            if (enabled && !dark) {
                movePointer(display, icon->x + icon->width / 2, icon->y + icon->height / 2);
                click(display, 1);
                std::optional<XWindowAttributes> menu;
                if (!waitFor([&] { return (menu = openMenu(display)).has_value(); })) {
                    std::fprintf(stderr, "the menu did not open\n");
                    return 1;
                }
                settle();
                const int left = std::max(0, menu->x - 24);
                if (!shoot(session, folder + "/tray-menu.png", left, 0, kWidth - left,
                           menu->y + menu->height + 24)) {
                    return 1;
                }
                tapKey(display, "Escape");
            }
            dovetrel.process().signal(SIGTERM);
            dovetrel.process().waitForExit();
        }
    }
    // The dark panel's two states side by side, in one picture.
    const std::string on = folder + "/tray-dark-on.png";
    const std::string off = folder + "/tray-dark-off.png";
    const std::string join = "convert " + on + " " + off + " +append " + folder +
                             "/tray-dark.png && rm " + on + " " + off;
    return std::system(join.c_str()) == 0 ? 0 : 1;
}
