// Whether this session is one the program can guard.
#pragma once

#include <functional>
#include <optional>
#include <string>

namespace dovetrel::app {

// Reads an environment variable; nullopt when unset.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

// Whether this session runs on the Wayland platform: where WAYLAND_DISPLAY names a compositor.
// DOVETREL_WAYLAND=0 keeps X11 there (XWayland, guarding X11 programs only); =1 asks for Wayland.
bool runsOnWayland(const EnvironmentLookup& environment);

// Why the program cannot run in this session, as one line for stderr; nullopt when it can.
// A Wayland session is refused even when an X display is reachable, since X11 clients there
// see and filter only the input of other X11 clients, unless DOVETREL_WAYLAND=0 asks for that.
std::optional<std::string> reasonCannotRun(const EnvironmentLookup& environment);

// The same for the X server itself: it must be reachable and offer the extensions the
// program needs. nullopt when it does.
std::optional<std::string> reasonServerUnusable();

}  // namespace dovetrel::app
