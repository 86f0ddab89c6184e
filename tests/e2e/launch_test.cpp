#include <gtest/gtest.h>

#include <QTemporaryDir>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "support/x_session.h"

namespace dovetrel::e2e {
using namespace support;
namespace {

TEST(Launch, LeavesTheSettingsFileOfTheBuildThatRanLastAsItIs) {
    XSession session({.windowManager = false});
    std::string build;
    {
        Dovetrel first(session, "[General]\nidleTimeout=30\n");
        ASSERT_TRUE(waitFor([&] {
            const std::string text = readText(first.settingsPath());
            const auto at = text.find("lastGrantedBuild=");
            if (at != std::string::npos) {
                build = text.substr(at, text.find('\n', at) - at);
            }
            return !build.empty();
        })) << first.unexpectedOutput();
    }
    // The INI reader runs a value ending in a backslash on into the next line, and an
    // unterminated quote further: a rewrite would drop the lines it swallowed.
    for (const std::string trap : {"zoneSize=100\\", "zoneSize=\"100"}) {
        const std::string text = "; my settings\n[General]\n" + build + "\nidleTimeout=1\n" + trap +
                                 "\nisEnabled=true\nlaunchAtLogin=false\n";
        Dovetrel dovetrel(session, text);
        // Shown once the launch sequence has run.
        ASSERT_TRUE(waitForGuardedOverlay(session.display())) << dovetrel.unexpectedOutput();
        dovetrel.process().signal(SIGTERM);
        EXPECT_TRUE(dovetrel.process().waitForExit(5s).has_value());
        EXPECT_EQ(readText(dovetrel.settingsPath()), text) << trap;
    }
}

TEST(Launch, FollowsTheSettingsFolderDeletedAndMadeAgain) {
    XSession session({.windowManager = false});
    Dovetrel dovetrel(session, "[General]\nidleTimeout=1\n");
    ASSERT_TRUE(waitForGuardedOverlay(session.display()));
    // As a dotfiles manager restores the folder: gone for a moment, then back with the guard
    // switched off.
    const auto folder = std::filesystem::path(dovetrel.settingsPath()).parent_path();
    std::filesystem::remove_all(folder);
    std::this_thread::sleep_for(500ms);
    std::filesystem::create_directories(folder);
    std::ofstream(dovetrel.settingsPath()) << "[General]\nidleTimeout=1\nisEnabled=false\n";
    EXPECT_TRUE(overlayGoes(session.display(), 1s));
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

TEST(Launch, RunsQuietlyWithoutWindowManagerOrAnyBusAndExitsWhenTheXServerGoesAway) {
    auto session = std::make_unique<XSession>(SessionOptions{.windowManager = false});
    const QTemporaryDir nowhere;
    Dovetrel dovetrel(
        *session, "[General]\nidleTimeout=1\n",
        {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + nowhere.filePath("session").toStdString(),
         "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + nowhere.filePath("system").toStdString()});
    EXPECT_TRUE(waitForGuardedOverlay(session->display()));
    EXPECT_TRUE(dovetrel.process().isRunning());
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
    session.reset();
    const auto status = dovetrel.process().waitForExit(10s);
    ASSERT_TRUE(status.has_value()) << "still running without its X server";
    EXPECT_LT(*status, 128) << "ended by a signal: " << dovetrel.process().errorOutput();
}

}  // namespace
}  // namespace dovetrel::e2e
