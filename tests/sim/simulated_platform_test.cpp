// The virtual clock and run loop that every timing test relies on.
#include "sim/simulated_platform.h"

#include <gtest/gtest.h>

namespace dovetrel::testing {
namespace {

TEST(VirtualClock, FiresTimersInDueOrderAtTheirDeadlines) {
    sim::SimulatedPlatform platform;
    const double start = platform.now();
    std::vector<std::pair<std::string, double>> fired;
    const auto note = [&](const char* name) {
        return [&, name] { fired.emplace_back(name, platform.now() - start); };
    };
    platform.scheduleTimer(2.0, false, note("b"));
    platform.scheduleTimer(1.0, false, note("a"));
    platform.scheduleTimer(2.0, false, note("c"));  // ties fire in scheduling order
    const auto repeating = platform.scheduleTimer(0.75, true, note("r"));
    platform.advance(1.5);
    EXPECT_EQ(fired,
              (std::vector<std::pair<std::string, double>>{{"r", 0.75}, {"a", 1.0}, {"r", 1.5}}));
    fired.clear();
    repeating->invalidate();
    repeating->invalidate();  // harmless twice
    EXPECT_FALSE(repeating->isValid());
    platform.advance(3.5);
    EXPECT_EQ(fired, (std::vector<std::pair<std::string, double>>{{"b", 2.0}, {"c", 2.0}}));
    EXPECT_EQ(platform.nextDeadline(), std::nullopt);
    EXPECT_DOUBLE_EQ(platform.now(), start + 5);
}

TEST(VirtualClock, DefaultModeTimersWaitWhileAMenuIsTrackedButQueuedBlocksDoNot) {
    sim::SimulatedPlatform platform;
    int idle = 0;
    int check = 0;
    int delayed = 0;
    platform.scheduleTimer(1.0, false, [&] { ++idle; });
    platform.scheduleTimer(0.25, true, [&] { ++check; });
    platform.dispatchAfter(0.3, [&] { ++delayed; });
    platform.beginMenuTracking();
    platform.advance(3.0);
    EXPECT_EQ(idle, 0);
    EXPECT_EQ(check, 0);
    EXPECT_EQ(delayed, 1);
    // When the menu closes, each timer that came due fires once.
    platform.endMenuTracking();
    EXPECT_EQ(idle, 1);
    EXPECT_EQ(check, 1);
    platform.advance(0.25);
    EXPECT_EQ(check, 2);
}

}  // namespace
}  // namespace dovetrel::testing
