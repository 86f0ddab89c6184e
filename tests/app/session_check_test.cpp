#include "app/session_check.h"

#include <gtest/gtest.h>

#include <map>

namespace dovetrel::app {
namespace {

TEST(SessionCheck, RunsOnlyInAnX11SessionAndSaysWhyNot) {
    using Variables = std::map<std::string, std::string>;
    const std::pair<Variables, const char*> cases[] = {
        {{{"DISPLAY", ":0"}}, nullptr},
        {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", ""}}, nullptr},
        // Wayland even with an X display.
        {{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}}, "Wayland"},
        {{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}}, "Wayland"},
        {{}, "DISPLAY"},
        {{{"DISPLAY", ""}}, "DISPLAY"},
    };
    for (const auto& [set, said] : cases) {
        // Clang 14 cannot capture a structured binding.
        const Variables& variables = set;
        const auto reason = reasonCannotRun([&](const char* name) -> std::optional<std::string> {
            const auto found = variables.find(name);
            return found != variables.end() ? std::optional(found->second) : std::nullopt;
        });
        EXPECT_EQ(reason.has_value(), said != nullptr) << reason.value_or("runs");
        if (reason && said) {
            EXPECT_NE(reason->find(said), std::string::npos) << *reason;
        }
    }
}

}  // namespace
}  // namespace dovetrel::app
