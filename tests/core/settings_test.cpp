// The settings window's model and how the window is opened and closed.
#include "core/settings_model.h"
#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

class Settings : public CoreTest {
  protected:
    SettingsModel model{platform};
    int loginServiceCalls() const {
        return platform.callCount("registerLoginItem") + platform.callCount("unregisterLoginItem");
    }
};

TEST_F(Settings, BadgesTruncateAndSlidersHoldAnyValue) {
    EXPECT_EQ(timeoutBadgeText(10.0), "10.0s");
    EXPECT_EQ(timeoutBadgeText(2.25), "2.2s");
    EXPECT_EQ(sizeBadgeText(199.999), "199px");
    EXPECT_EQ(sizeBadgeText(9223372036854775808.0), "\u2014px");
    EXPECT_EQ(sizeBadgeText(-std::numeric_limits<double>::infinity()), "\u2014px");
    // 1 to 10 s by halves, 40 to 200 points by tens.
    EXPECT_EQ(kTimeoutGrid.positions(), 19);
    EXPECT_EQ(kSizeGrid.positions(), 17);
    EXPECT_EQ(kTimeoutGrid.positionNearest(3.0), 4);
    EXPECT_EQ(kSizeGrid.positionNearest(85.7), 5);
    EXPECT_EQ(kSizeGrid.positionNearest(1e300), kSizeGrid.positions() - 1);
    EXPECT_EQ(kSizeGrid.positionNearest(std::numeric_limits<double>::infinity()), 16);
    EXPECT_EQ(kSizeGrid.positionNearest(40), 0);
    EXPECT_EQ(kSizeGrid.positionNearest(-5), 0);
    EXPECT_EQ(kSizeGrid.positionNearest(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST_F(Settings, ThePillFlipsThePreferenceAndLeavesTheSnoozeRunning) {
    launch();
    platform.statusItem()->choose(delegate->snoozeMenuItem->submenu->items()[0]);
    platform.advance(1.0);
    model.toggleEnabled();
    EXPECT_FALSE(delegate->isEnabled());
    EXPECT_TRUE(delegate->isSnoozed());
    model.toggleEnabled();
    EXPECT_TRUE(delegate->isEnabled());
    EXPECT_TRUE(delegate->isSnoozed());
}

TEST_F(Settings, AStoredValueResetWouldChangeShowsAndEnablesReset) {
    const struct {
        const char* key;
        const char* stored;
        bool isDefault;
        const char* sizeBadge;
    } cases[] = {
        {"zoneSize", "80.0", true, "80px"},          {"zoneSize", "85.7", false, "85px"},
        {"idleTimeout", "3.0000001", false, "80px"}, {"zoneSize", "abc", false, "\u2014px"},
        {"zoneSize", "nan", false, "\u2014px"},      {"zoneSize", "-inf", false, "\u2014px"},
        {"zoneSize", "0", false, "\u2014px"},        {"zoneSize", "1e400", false, "\u2014px"},
        {"idleTimeout", "3.0", true, "80px"},        {"idleTimeout", "soon", false, "80px"},
        {"isEnabled", "TRUE", true, "80px"},         {"isEnabled", "yes", false, "80px"},
        {"launchAtLogin", "0", true, "80px"},        {"launchAtLogin", "maybe", false, "80px"},
    };
    for (const auto& c : cases) {
        platform.store.editByHand(c.key, c.stored);
        EXPECT_EQ(model.isDefaults(), c.isDefault) << c.key << "=" << c.stored;
        EXPECT_EQ(model.sizeBadge(), c.sizeBadge) << c.key << "=" << c.stored;
        platform.calls.clear();
        model.resetToDefaults();
        EXPECT_TRUE(model.isDefaults()) << c.key << "=" << c.stored;
        EXPECT_EQ(model.sizeBadge(), "80px");
        EXPECT_EQ(loginServiceCalls(), 0) << c.key << "=" << c.stored;
        platform.store.editByHand(c.key, std::nullopt);
    }
}

TEST_F(Settings, LaunchAtLoginStoresTheChoiceEvenWhenTheServiceFails) {
    platform.loginItemServiceSucceeds = false;
    model.setLaunchAtLogin(true);
    EXPECT_TRUE(platform.called("registerLoginItem"));
    EXPECT_TRUE(model.launchAtLogin());
    model.setLaunchAtLogin(false);
    EXPECT_TRUE(platform.called("unregisterLoginItem"));
    EXPECT_FALSE(model.launchAtLogin());
}

// Every other setting is reset, and the service left alone, in the table above.
TEST_F(Settings, ResetUnregistersALoginItemThatWasAskedFor) {
    platform.loginItemServiceSucceeds = false;
    model.setLaunchAtLogin(true);
    platform.calls.clear();
    model.resetToDefaults();
    EXPECT_EQ(platform.callCount("unregisterLoginItem"), 1);
    EXPECT_FALSE(model.launchAtLogin());
    EXPECT_TRUE(model.isDefaults());
}

TEST_F(Settings, TheLatestNotesAreThoseOfThisVersion) {
    const auto& releases = Release::all();
    ASSERT_FALSE(releases.empty());
    EXPECT_EQ(releases.front().version, kAppVersion);
    EXPECT_EQ(rawValue(SettingsTab::whatsNew), "What's New");
    for (const auto& release : releases) {
        EXPECT_EQ(release.id, release.version);
        EXPECT_FALSE(release.items.empty());
        EXPECT_EQ(isLatestRelease(release), &release == &releases.front()) << release.id;
        EXPECT_EQ(findRelease(release.id), &release);
    }
}

TEST_F(Settings, OneWindowIsReusedWhileOpenAndMadeAnewAfterClosing) {
    delegate->openSettings();
    ASSERT_EQ(platform.settingsWindows.size(), 1u);
    const auto first = platform.settingsWindows[0];
    EXPECT_TRUE(first->isCentred());
    EXPECT_EQ(first->level(), WindowLevel::floating);
    EXPECT_EQ(platform.activationPolicy, ActivationPolicy::accessory);
    platform.advance(0.25);
    EXPECT_EQ(first->level(), WindowLevel::floating);
    platform.advance(0.05);
    EXPECT_EQ(first->level(), WindowLevel::normal);

    delegate->openSettings();
    EXPECT_EQ(platform.settingsWindows.size(), 1u);
    EXPECT_EQ(first->level(), WindowLevel::floating);
    // Each opening brings the window and the program to the front.
    EXPECT_EQ(platform.callCount("settingsWindow.makeKeyAndOrderFront"), 2);
    EXPECT_EQ(platform.callCount("activateIgnoringOtherApps"), 2);
    platform.advance(0.3);
    EXPECT_EQ(first->level(), WindowLevel::normal);

    // Closed within the floating period: the level still goes back.
    delegate->openSettings();
    first->close();
    EXPECT_EQ(delegate->settingsWindow, nullptr);
    EXPECT_EQ(platform.activationPolicy, ActivationPolicy::prohibited);
    platform.advance(0.3);
    EXPECT_EQ(first->level(), WindowLevel::normal);

    delegate->openSettings();
    EXPECT_EQ(platform.settingsWindows.size(), 2u);
    EXPECT_EQ(platform.activationPolicy, ActivationPolicy::accessory);
    // Another window's closing is ignored.
    first->close();
    EXPECT_NE(delegate->settingsWindow, nullptr);
}

}  // namespace
}  // namespace dovetrel::testing
