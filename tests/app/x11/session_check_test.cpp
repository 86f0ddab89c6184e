#include "app/x11/session_check.h"

#include <gtest/gtest.h>

#include <map>

namespace dovetrel::app {
namespace {

// `said` is what the X11 check answers, for a session not run on Wayland or with no display.
TEST(SessionCheck, ChoosesWaylandWhereItsDisplayIsNamedAndSaysWhyX11CannotRun) {
    const struct {
        std::map<std::string, std::string> variables;
        bool wayland;
        const char* said;
    } cases[] = {
        {{{"DISPLAY", ":0"}}, false, nullptr},
        {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", ""}}, false, nullptr},
        // Wayland even with an X display.
        {{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}, true, "Wayland"},
        {{{"WAYLAND_DISPLAY", "wayland-0"}, {"XDG_SESSION_TYPE", "wayland"}}, true, "Wayland"},
        {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}}, false, "Wayland"},
        // XWayland when asked for, and Wayland for a nested compositor in an X11 session.
        {{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}, {"DOVETREL_WAYLAND", "0"}},
         false,
         nullptr},
        {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}, {"DOVETREL_WAYLAND", "1"}},
         true,
         nullptr},
        {{}, false, "DISPLAY"},
        {{{"DISPLAY", ""}}, false, "DISPLAY"},
    };
    for (const auto& c : cases) {
        const auto environment = [&](const char* name) -> std::optional<std::string> {
            const auto found = c.variables.find(name);
            return found != c.variables.end() ? std::optional(found->second) : std::nullopt;
        };
        EXPECT_EQ(runsOnWayland(environment), c.wayland) << c.variables.size();
        const auto reason = reasonCannotRun(environment);
        EXPECT_EQ(reason.has_value(), c.said != nullptr) << reason.value_or("runs");
        if (reason && c.said) {
            EXPECT_NE(reason->find(c.said), std::string::npos) << *reason;
        }
    }
}

}  // namespace
}  // namespace dovetrel::app
