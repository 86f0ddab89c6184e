#include "app/session_check.h"

#include <gtest/gtest.h>

#include <map>

namespace dovetrel::app {
namespace {

std::optional<std::string> check(const std::map<std::string, std::string>& variables) {
    return reasonCannotRun([&](const char* name) -> std::optional<std::string> {
        const auto found = variables.find(name);
        return found != variables.end() ? std::optional(found->second) : std::nullopt;
    });
}

TEST(SessionCheck, AcceptsAnX11Session) {
    EXPECT_EQ(check({{"DISPLAY", ":0"}}), std::nullopt);
    EXPECT_EQ(check({{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "x11"}, {"WAYLAND_DISPLAY", ""}}),
              std::nullopt);
}

TEST(SessionCheck, RefusesWaylandEvenWithAnXDisplay) {
    for (const auto& variables :
         {std::map<std::string, std::string>{{"DISPLAY", ":0"}, {"WAYLAND_DISPLAY", "wayland-0"}},
          std::map<std::string, std::string>{{"DISPLAY", ":0"}, {"XDG_SESSION_TYPE", "wayland"}}}) {
        const auto reason = check(variables);
        ASSERT_TRUE(reason);
        EXPECT_NE(reason->find("Wayland"), std::string::npos);
    }
}

TEST(SessionCheck, RefusesWithoutADisplay) {
    for (const auto& variables : {std::map<std::string, std::string>{},
                                  std::map<std::string, std::string>{{"DISPLAY", ""}}}) {
        const auto reason = check(variables);
        ASSERT_TRUE(reason);
        EXPECT_NE(reason->find("DISPLAY"), std::string::npos);
    }
}

}  // namespace
}  // namespace dovetrel::app
