// What the settings window shows and does, without a screen: the four preferences it edits,
// its badges, the reset, and which tab and release are selected.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "core/preferences.h"
#include "core/release_notes.h"

namespace dovetrel {

class Platform;

enum class SettingsTab { settings, whatsNew };
inline constexpr std::array<SettingsTab, 2> kSettingsTabs = {SettingsTab::settings,
                                                             SettingsTab::whatsNew};
// The tab's title: "Settings" or "What's New".
std::string_view rawValue(SettingsTab tab);

// A slider's grid: lower, lower + step, ... upper.
struct SliderGrid {
    double lower;
    double upper;
    double step;

    int positions() const;
    double valueAt(int position) const;
    // The grid position nearest to `value`, clamped to the ends.
    int positionNearest(double value) const;
};
inline constexpr SliderGrid kTimeoutGrid{1.0, 10.0, 0.5};
inline constexpr SliderGrid kSizeGrid{40.0, 200.0, 10.0};

// "3.0s".
std::string timeoutBadgeText(double seconds);
// The size truncated toward zero, then "px": 85.7 gives "85px". A value that is not finite or
// lies beyond the 64-bit integer range gives "—px".
std::string sizeBadgeText(double points);

inline constexpr const char* kWebsiteURL = "https://dovetrel.app/";
inline constexpr const char* kWebsiteLabel = "dovetrel.app";

class SettingsModel {
  public:
    // Starts on the Settings tab with the newest release selected.
    explicit SettingsModel(Platform& platform);

    double idleTimeout() const { return preferences_.idleTimeout(); }
    void setIdleTimeout(double seconds) { preferences_.setIdleTimeout(seconds); }
    double zoneSize() const { return preferences_.zoneSize(); }
    void setZoneSize(double points) { preferences_.setZoneSize(points); }
    bool isEnabled() const { return preferences_.isEnabled(); }
    bool launchAtLogin() const { return preferences_.launchAtLogin(); }

    // Flips the preference and nothing else: no overlay is dismissed, no snooze cancelled.
    void toggleEnabled();
    // Registers or unregisters the login item; a failure is dropped and the choice is stored
    // either way.
    void setLaunchAtLogin(bool enabled);
    // True exactly when each of the four preferences is absent or stored as a value equal to
    // its default: anything else, unreadable text included, is what Reset mends.
    bool isDefaults() const;
    // Writes every default; afterwards isDefaults() holds.
    void resetToDefaults();

    std::string timeoutBadge() const { return timeoutBadgeText(idleTimeout()); }
    // The stored size as sizeBadgeText() writes it, or "—px" when the stored text is not a
    // size the program can use (it then falls back to the default): the badge tells of a
    // broken value rather than hide it behind the default.
    std::string sizeBadge() const;

    SettingsTab selectedTab() const { return selectedTab_; }
    void selectTab(SettingsTab tab) { selectedTab_ = tab; }
    const std::string& selectedReleaseID() const { return selectedReleaseID_; }
    void selectRelease(const std::string& id) { selectedReleaseID_ = id; }
    // The release whose notes are shown; nullptr when none matches the selection.
    const Release* selectedRelease() const { return findRelease(selectedReleaseID_); }

  private:
    Platform& platform_;
    Preferences preferences_;
    SettingsTab selectedTab_ = SettingsTab::settings;
    std::string selectedReleaseID_;
};

}  // namespace dovetrel
