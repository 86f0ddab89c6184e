#include "app/x11/session_check.h"

#include <xcb/xfixes.h>

#include <cstdlib>

#include "app/x11/connection.h"

namespace dovetrel::app {

bool runsOnWayland(const EnvironmentLookup& environment) {
    const auto asked = environment("DOVETREL_WAYLAND");
    if (asked == "0" || asked == "1") {
        return asked == "1";
    }
    const auto waylandDisplay = environment("WAYLAND_DISPLAY");
    return waylandDisplay && !waylandDisplay->empty();
}

std::optional<std::string> reasonCannotRun(const EnvironmentLookup& environment) {
    const auto sessionType = environment("XDG_SESSION_TYPE");
    const auto waylandDisplay = environment("WAYLAND_DISPLAY");
    const bool x11Asked = environment("DOVETREL_WAYLAND") == "0";
    if (!x11Asked && ((waylandDisplay && !waylandDisplay->empty()) || sessionType == "wayland")) {
        return "this is a Wayland session, but WAYLAND_DISPLAY names no compositor, and an X11 "
               "program there cannot watch or filter other programs' clicks";
    }
    const auto display = environment("DISPLAY");
    if (!display || display->empty()) {
        return "no X display (DISPLAY is not set) nor Wayland display (WAYLAND_DISPLAY)";
    }
    return std::nullopt;
}

std::optional<std::string> reasonServerUnusable() {
    XConnection connection(nullptr);
    if (!connection) {
        const char* display = std::getenv("DISPLAY");
        return "cannot open the X display " + std::string(display != nullptr ? display : "");
    }
    const auto xinput = connection.announceXInput({2, 2});
    if (!xinput || *xinput < ExtensionVersion{2, 2}) {
        return "the X server lacks XInput 2.2, which Dovetrel needs to watch input";
    }
    if (!connection.has(xcb_xfixes_id)) {
        return "the X server lacks the XFixes extension, which Dovetrel needs";
    }
    return std::nullopt;
}

}  // namespace dovetrel::app
