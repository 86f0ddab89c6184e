#include "core/preferences.h"

#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

TEST(Preferences, AwkwardNumbersSurviveTheTripThroughText) {
    sim::SimPreferenceStore store;
    Preferences preferences(store);
    preferences.setIdleTimeout(3.0000001);
    EXPECT_EQ(preferences.idleTimeout(), 3.0000001);
    preferences.setZoneSize(0.1 + 0.2);
    EXPECT_EQ(preferences.zoneSize(), 0.1 + 0.2);
}

// How each key reads back, as text; "default" where the stored text must count as unset.
std::string readBack(const Preferences& preferences, std::string_view key) {
    if (key == "idleTimeout") {
        return formatDouble(preferences.idleTimeout());
    }
    if (key == "zoneSize") {
        return formatDouble(preferences.zoneSize());
    }
    return (key == "isEnabled" ? preferences.isEnabled() : preferences.launchAtLogin()) ? "true"
                                                                                        : "false";
}

TEST(Preferences, HandWrittenTextReadsAsMeantAndTheUnreadableAsTheDefault) {
    const struct {
        const char* key;
        const char* text;
        const char* read;
    } cases[] = {
        {"idleTimeout", " 7.25 ", "7.25"},
        {"idleTimeout", "+4.5", "4.5"},
        {"zoneSize", "+120", "120"},
        {"isEnabled", "FALSE", "false"},
        {"isEnabled", "0", "false"},
        {"launchAtLogin", "1", "true"},
        {"launchAtLogin", " True ", "true"},
        // Not of their type.
        {"idleTimeout", "soon", "3"},
        {"idleTimeout", "", "3"},
        {"idleTimeout", "3s", "3"},
        {"idleTimeout", "++3", "3"},
        {"zoneSize", "1,5", "80"},
        {"isEnabled", "maybe", "true"},
        {"launchAtLogin", "yes please", "false"},
        // Not a finite number above zero.
        {"idleTimeout", "0", "3"},
        {"idleTimeout", "-2", "3"},
        {"idleTimeout", "nan", "3"},
        {"idleTimeout", "inf", "3"},
        {"zoneSize", "0.0", "80"},
        {"zoneSize", "-80", "80"},
        {"zoneSize", "NaN", "80"},
        {"zoneSize", "-inf", "80"},
        {"zoneSize", "1e400", "80"},
    };
    for (const auto& c : cases) {
        sim::SimPreferenceStore store;
        store.editByHand(c.key, c.text);
        const auto before = store.values();
        const Preferences preferences(store);
        EXPECT_EQ(readBack(preferences, c.key), c.read) << c.key << "=" << c.text;
        EXPECT_EQ(store.values(), before);
        EXPECT_EQ(store.writeCount(), 0);
    }
}

}  // namespace
}  // namespace dovetrel::testing
