#include "core/preferences.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <cmath>

#include "core/platform.h"

namespace dovetrel {
namespace {

std::string_view trimmed(std::string_view text) {
    const auto isSpace = [](char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; };
    while (!text.empty() && isSpace(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && isSpace(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) ==
               std::tolower(static_cast<unsigned char>(y));
    });
}

}  // namespace

std::optional<double> parseDouble(std::string_view text) {
    text = trimmed(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

std::optional<bool> parseBool(std::string_view text) {
    text = trimmed(text);
    if (equalsIgnoringCase(text, "true") || text == "1") {
        return true;
    }
    if (equalsIgnoringCase(text, "false") || text == "0") {
        return false;
    }
    return std::nullopt;
}

std::string formatDouble(double value) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), value);
    return std::string(buffer.data(), result.ptr);
}

double Preferences::positiveDouble(std::string_view key, double fallback) const {
    const auto text = store_.value(key);
    if (!text) {
        return fallback;
    }
    const auto value = parseDouble(*text);
    return value && std::isfinite(*value) && *value > 0 ? *value : fallback;
}

bool Preferences::boolean(std::string_view key, bool fallback) const {
    const auto text = store_.value(key);
    if (!text) {
        return fallback;
    }
    return parseBool(*text).value_or(fallback);
}

void Preferences::setDouble(std::string_view key, double value) {
    store_.setValue(key, formatDouble(value));
}

void Preferences::setBool(std::string_view key, bool value) {
    store_.setValue(key, value ? "true" : "false");
}

double Preferences::idleTimeout() const {
    return positiveDouble(prefkey::kIdleTimeout, kDefaultIdleTimeout);
}
void Preferences::setIdleTimeout(double seconds) {
    setDouble(prefkey::kIdleTimeout, seconds);
}

double Preferences::zoneSize() const {
    return positiveDouble(prefkey::kZoneSize, kDefaultZoneSize);
}
void Preferences::setZoneSize(double points) {
    setDouble(prefkey::kZoneSize, points);
}

bool Preferences::isEnabled() const {
    return boolean(prefkey::kIsEnabled, kDefaultIsEnabled);
}
void Preferences::setIsEnabled(bool enabled) {
    setBool(prefkey::kIsEnabled, enabled);
}

bool Preferences::launchAtLogin() const {
    return boolean(prefkey::kLaunchAtLogin, kDefaultLaunchAtLogin);
}
void Preferences::setLaunchAtLogin(bool enabled) {
    setBool(prefkey::kLaunchAtLogin, enabled);
}

std::optional<std::string> Preferences::lastGrantedBuild() const {
    return store_.value(prefkey::kLastGrantedBuild);
}
void Preferences::setLastGrantedBuild(const std::string& build) {
    store_.setValue(prefkey::kLastGrantedBuild, build);
}

}  // namespace dovetrel
