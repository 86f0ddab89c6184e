#include "app/x11/session_check.h"

#include <gtest/gtest.h>

#include <map>

namespace dovetrel::app {
namespace {

TEST(SessionCheck, RunsOnlyInAnX11SessionAndSaysWhyNot) {
    const struct {
        std::map<std::string, std::string> variables;
        const char* said;
    } cases[] = {
        {{{"DISPLAY", ":0"}}, nullptr},
        {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", ""}}, nullptr},
        // Wayland even with an X display.
        {{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}, "Wayland"},
        {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}}, "Wayland"},
        {{}, "DISPLAY"},
        {{{"DISPLAY", ""}}, "DISPLAY"},
    };
    for (const auto& c : cases) {
        const auto reason = reasonCannotRun([&](const char* name) -> std::optional<std::string> {
            const auto found = c.variables.find(name);
            return found != c.variables.end() ? std::optional(found->second) : std::nullopt;
        });
        EXPECT_EQ(reason.has_value(), c.said != nullptr) << reason.value_or("runs");
        if (reason && c.said) {
            EXPECT_NE(reason->find(c.said), std::string::npos) << *reason;
        }
    }
}

}  // namespace
}  // namespace dovetrel::app
