#include "core/settings_model.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "core/platform.h"

namespace dovetrel {

std::string_view rawValue(SettingsTab tab) {
    return tab == SettingsTab::settings ? "Settings" : "What's New";
}

int SliderGrid::positions() const {
    return static_cast<int>(std::lround((upper - lower) / step)) + 1;
}

double SliderGrid::valueAt(int position) const {
    return lower + position * step;
}

int SliderGrid::positionNearest(double value) const {
    if (!std::isfinite(value) || value <= lower) {
        return value > lower ? positions() - 1 : 0;
    }
    if (value >= upper) {
        return positions() - 1;
    }
    return static_cast<int>(std::lround((value - lower) / step));
}

std::string timeoutBadgeText(double seconds) {
    char text[64];
    std::snprintf(text, sizeof text, "%.1fs", seconds);
    return text;
}

std::string sizeBadgeText(double points) {
    // 2^63 itself is already out of range.
    constexpr double kInt64Limit = 9223372036854775808.0;
    if (!std::isfinite(points) || points >= kInt64Limit || points < -kInt64Limit) {
        return "\u2014px";
    }
    return std::to_string(static_cast<int64_t>(std::trunc(points))) + "px";
}

SettingsModel::SettingsModel(Platform& platform)
    : platform_(platform), preferences_(platform.preferences()) {
    const auto& releases = Release::all();
    selectedReleaseID_ = releases.empty() ? std::string() : releases.front().id;
}

void SettingsModel::toggleEnabled() {
    preferences_.setIsEnabled(!preferences_.isEnabled());
}

void SettingsModel::setLaunchAtLogin(bool enabled) {
    if (enabled) {
        platform_.registerLoginItem();
    } else {
        platform_.unregisterLoginItem();
    }
    preferences_.setLaunchAtLogin(enabled);
}

std::string SettingsModel::sizeBadge() const {
    if (const auto text = platform_.preferences().value(prefkey::kZoneSize)) {
        const auto size = parseDouble(*text);
        if (!size || !std::isfinite(*size) || *size <= 0) {
            return sizeBadgeText(std::numeric_limits<double>::quiet_NaN());
        }
    }
    return sizeBadgeText(zoneSize());
}

namespace {

template <typename Value, typename Parse>
bool holdsDefault(const PreferenceStore& store, std::string_view key, Value fallback, Parse parse) {
    const auto text = store.value(key);
    if (!text) {
        return true;
    }
    const auto value = parse(*text);
    return value && *value == fallback;
}

}  // namespace

bool SettingsModel::isDefaults() const {
    const PreferenceStore& store = platform_.preferences();
    return holdsDefault(store, prefkey::kIdleTimeout, kDefaultIdleTimeout, parseDouble) &&
           holdsDefault(store, prefkey::kZoneSize, kDefaultZoneSize, parseDouble) &&
           holdsDefault(store, prefkey::kIsEnabled, kDefaultIsEnabled, parseBool) &&
           holdsDefault(store, prefkey::kLaunchAtLogin, kDefaultLaunchAtLogin, parseBool);
}

void SettingsModel::resetToDefaults() {
    preferences_.setIdleTimeout(kDefaultIdleTimeout);
    preferences_.setZoneSize(kDefaultZoneSize);
    preferences_.setIsEnabled(kDefaultIsEnabled);
    if (preferences_.launchAtLogin()) {
        platform_.unregisterLoginItem();
        preferences_.setLaunchAtLogin(false);
    } else if (!holdsDefault(platform_.preferences(), prefkey::kLaunchAtLogin,
                             kDefaultLaunchAtLogin, parseBool)) {
        // Unreadable text, which already reads as off: only the file needs mending.
        preferences_.setLaunchAtLogin(false);
    }
}

}  // namespace dovetrel
