#include "core/preferences.h"

#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

TEST(Preferences, AFreshStoreReadsAsTheDefaults) {
    sim::SimPreferenceStore store;
    const Preferences preferences(store);
    EXPECT_EQ(preferences.idleTimeout(), 3.0);
    EXPECT_EQ(preferences.zoneSize(), 80.0);
    EXPECT_TRUE(preferences.isEnabled());
    EXPECT_FALSE(preferences.launchAtLogin());
    EXPECT_EQ(preferences.lastGrantedBuild(), std::nullopt);
    EXPECT_EQ(store.writeCount(), 0);
    EXPECT_TRUE(store.values().empty());
}

TEST(Preferences, WritesReadBackExactly) {
    sim::SimPreferenceStore store;
    Preferences preferences(store);
    preferences.setIdleTimeout(1.5);
    preferences.setZoneSize(85.7);
    preferences.setIsEnabled(false);
    preferences.setLaunchAtLogin(true);
    preferences.setLastGrantedBuild("8");
    EXPECT_EQ(preferences.idleTimeout(), 1.5);
    EXPECT_EQ(preferences.zoneSize(), 85.7);
    EXPECT_FALSE(preferences.isEnabled());
    EXPECT_TRUE(preferences.launchAtLogin());
    EXPECT_EQ(preferences.lastGrantedBuild(), "8");
    // Awkward values survive the trip through text unchanged.
    preferences.setIdleTimeout(3.0000001);
    EXPECT_EQ(preferences.idleTimeout(), 3.0000001);
    preferences.setZoneSize(0.1 + 0.2);
    EXPECT_EQ(preferences.zoneSize(), 0.1 + 0.2);
}

TEST(Preferences, AHandEditIsSeenAtTheNextRead) {
    sim::SimPreferenceStore store;
    const Preferences preferences(store);
    EXPECT_EQ(preferences.idleTimeout(), 3.0);
    store.editByHand("idleTimeout", " 7.25 ");
    EXPECT_EQ(preferences.idleTimeout(), 7.25);
    store.editByHand("isEnabled", "FALSE");
    EXPECT_FALSE(preferences.isEnabled());
    store.editByHand("isEnabled", std::nullopt);
    EXPECT_TRUE(preferences.isEnabled());
}

struct UnreadableCase {
    const char* key;
    const char* text;
};

class UnreadableValues : public ::testing::TestWithParam<UnreadableCase> {};

TEST_P(UnreadableValues, ReadAsTheDefaultAndLeaveTheStoreAsItWas) {
    sim::SimPreferenceStore store;
    store.editByHand(GetParam().key, GetParam().text);
    const auto before = store.values();
    const Preferences preferences(store);
    EXPECT_EQ(preferences.idleTimeout(), 3.0);
    EXPECT_EQ(preferences.zoneSize(), 80.0);
    EXPECT_TRUE(preferences.isEnabled());
    EXPECT_FALSE(preferences.launchAtLogin());
    EXPECT_EQ(store.values(), before);
    EXPECT_EQ(store.writeCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(NotOfTheirType, UnreadableValues,
                         ::testing::Values(UnreadableCase{"idleTimeout", "soon"},
                                           UnreadableCase{"idleTimeout", ""},
                                           UnreadableCase{"idleTimeout", "3s"},
                                           UnreadableCase{"zoneSize", "1,5"},
                                           UnreadableCase{"isEnabled", "maybe"},
                                           UnreadableCase{"launchAtLogin", "yes please"}));

INSTANTIATE_TEST_SUITE_P(
    NotAFiniteNumberAboveZero, UnreadableValues,
    ::testing::Values(UnreadableCase{"idleTimeout", "0"}, UnreadableCase{"idleTimeout", "-2"},
                      UnreadableCase{"idleTimeout", "nan"}, UnreadableCase{"idleTimeout", "inf"},
                      UnreadableCase{"zoneSize", "0.0"}, UnreadableCase{"zoneSize", "-80"},
                      UnreadableCase{"zoneSize", "NaN"}, UnreadableCase{"zoneSize", "-inf"},
                      UnreadableCase{"zoneSize", "1e400"}));

TEST(Preferences, ValuesOutsideTheSlidersAreUsedUnclamped) {
    sim::SimPreferenceStore store;
    store.editByHand("idleTimeout", "0.2");
    store.editByHand("zoneSize", "1e300");
    const Preferences preferences(store);
    EXPECT_EQ(preferences.idleTimeout(), 0.2);
    EXPECT_EQ(preferences.zoneSize(), 1e300);
}

TEST(Preferences, SurviveARestartOfTheProgram) {
    sim::SimulatedPlatform platform;
    {
        const auto first = std::make_shared<AppDelegate>(platform);
        first->setIdleTimeout(4.5);
        first->setZoneSize(120);
        first->setIsEnabled(false);
    }
    const auto second = std::make_shared<AppDelegate>(platform);
    EXPECT_EQ(second->idleTimeout(), 4.5);
    EXPECT_EQ(second->zoneSize(), 120);
    EXPECT_FALSE(second->isEnabled());
}

TEST(Preferences, ANewTimeoutTakesEffectAtTheNextArming) {
    sim::SimulatedPlatform platform;
    const auto delegate = std::make_shared<AppDelegate>(platform);
    delegate->resetIdleTimer();
    delegate->setIdleTimeout(8);
    EXPECT_EQ(platform.nextDeadline(), platform.now() + 3.0);
    delegate->resetIdleTimer();
    EXPECT_EQ(platform.nextDeadline(), platform.now() + 8.0);
}

}  // namespace
}  // namespace dovetrel::testing
