// Typed access to the preferences, read afresh on every access and written at once.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace dovetrel {

class PreferenceStore;

namespace prefkey {
inline constexpr std::string_view kIdleTimeout = "idleTimeout";
inline constexpr std::string_view kZoneSize = "zoneSize";
inline constexpr std::string_view kIsEnabled = "isEnabled";
inline constexpr std::string_view kLaunchAtLogin = "launchAtLogin";
inline constexpr std::string_view kLastGrantedBuild = "lastGrantedBuild";
}  // namespace prefkey

inline constexpr double kDefaultIdleTimeout = 3.0;  // seconds
inline constexpr double kDefaultZoneSize = 80.0;    // points
inline constexpr bool kDefaultIsEnabled = true;
inline constexpr bool kDefaultLaunchAtLogin = false;

// Reads never write a default back. A stored value that cannot be read as its type reads as
// the default, and so does an idle timeout or zone size that is not a finite number above
// zero: a zero-second countdown or a NaN-sized window would be plainly wrong. Values in the
// sane range are used as they are, never clamped.
class Preferences {
  public:
    explicit Preferences(PreferenceStore& store) : store_(store) {}

    double idleTimeout() const;
    void setIdleTimeout(double seconds);
    double zoneSize() const;
    void setZoneSize(double points);
    bool isEnabled() const;
    void setIsEnabled(bool enabled);
    bool launchAtLogin() const;
    void setLaunchAtLogin(bool enabled);
    // nullopt when absent.
    std::optional<std::string> lastGrantedBuild() const;
    void setLastGrantedBuild(const std::string& build);

  private:
    double positiveDouble(std::string_view key, double fallback) const;
    bool boolean(std::string_view key, bool fallback) const;
    void setDouble(std::string_view key, double value);
    void setBool(std::string_view key, bool value);

    PreferenceStore& store_;
};

// Parsing shared with anything else that reads stored text.
std::optional<double> parseDouble(std::string_view text);
std::optional<bool> parseBool(std::string_view text);
// The shortest text that reads back as exactly `value`.
std::string formatDouble(double value);

}  // namespace dovetrel
