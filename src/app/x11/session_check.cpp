#include "app/x11/session_check.h"

#include "app/x11/xlib.h"

namespace dovetrel::app {

std::optional<std::string> reasonCannotRun(const EnvironmentLookup& environment) {
    const auto sessionType = environment("XDG_SESSION_TYPE");
    const auto waylandDisplay = environment("WAYLAND_DISPLAY");
    if ((waylandDisplay && !waylandDisplay->empty()) || sessionType == "wayland") {
        return "this is a Wayland session, where a program cannot watch or filter other "
               "programs' clicks; Dovetrel needs an X11 session";
    }
    const auto display = environment("DISPLAY");
    if (!display || display->empty()) {
        return "no X display (DISPLAY is not set); Dovetrel needs an X11 session";
    }
    return std::nullopt;
}

std::optional<std::string> reasonServerUnusable() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        return "cannot open the X display " + std::string(XDisplayName(nullptr));
    }
    std::optional<std::string> reason;
    int opcode = 0;
    int event = 0;
    int error = 0;
    int major = 2;
    int minor = 2;
    if (!XQueryExtension(display, "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display, &major, &minor) != Success || major < 2 ||
        (major == 2 && minor < 2)) {
        reason = "the X server lacks XInput 2.2, which Dovetrel needs to watch input";
    } else if (!XFixesQueryExtension(display, &event, &error)) {
        reason = "the X server lacks the XFixes extension, which Dovetrel needs";
    }
    XCloseDisplay(display);
    return reason;
}

}  // namespace dovetrel::app
