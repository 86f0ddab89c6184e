// The virtual clock and run loop that every timing test relies on.
#include "sim/simulated_platform.h"

#include <gtest/gtest.h>

namespace dovetrel::testing {
namespace {

TEST(VirtualClock, FiresTimersInDueOrderWithTiesInSchedulingOrder) {
    sim::SimulatedPlatform platform;
    std::vector<std::string> fired;
    platform.scheduleTimer(2.0, false, [&] { fired.push_back("b"); });
    platform.scheduleTimer(1.0, false, [&] { fired.push_back("a"); });
    platform.scheduleTimer(2.0, false, [&] { fired.push_back("c"); });
    platform.advance(1.5);
    EXPECT_EQ(fired, (std::vector<std::string>{"a"}));
    platform.advance(0.5);
    EXPECT_EQ(fired, (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(platform.nextDeadline(), std::nullopt);
}

TEST(VirtualClock, RepeatingTimersRepeatAndOneShotsDoNot) {
    sim::SimulatedPlatform platform;
    int once = 0;
    int repeating = 0;
    const double start = platform.now();
    platform.scheduleTimer(0.25, false, [&] { ++once; });
    const auto timer = platform.scheduleTimer(0.25, true, [&] { ++repeating; });
    platform.advance(1.0);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(repeating, 4);
    EXPECT_EQ(platform.nextDeadline(), start + 1.25);
    timer->invalidate();
    timer->invalidate();  // harmless twice
    platform.advance(1.0);
    EXPECT_EQ(repeating, 4);
    EXPECT_FALSE(timer->isValid());
}

TEST(VirtualClock, ATimerSeesTheClockAtItsDeadline) {
    sim::SimulatedPlatform platform;
    const double start = platform.now();
    double seen = 0;
    platform.scheduleTimer(0.3, false, [&] { seen = platform.now(); });
    platform.advance(5);
    EXPECT_DOUBLE_EQ(seen, start + 0.3);
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

TEST(VirtualClock, QueuedBlocksRunAfterTheCurrentCallbackReturns) {
    sim::SimulatedPlatform platform;
    std::vector<std::string> order;
    platform.scheduleTimer(1.0, false, [&] {
        platform.dispatchAsync([&] { order.push_back("queued"); });
        order.push_back("timer");
    });
    platform.advance(1.0);
    EXPECT_EQ(order, (std::vector<std::string>{"timer", "queued"}));
}

TEST(VirtualClock, ATimerMayReplaceItselfFromItsOwnBlock) {
    sim::SimulatedPlatform platform;
    TimerRef field;
    int fired = 0;
    std::function<void()> rearm = [&] {
        ++fired;
        field = platform.scheduleTimer(1.0, false, rearm);
    };
    field = platform.scheduleTimer(1.0, false, rearm);
    platform.advance(3.0);
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(platform.liveTimerCount(), 1);
}

}  // namespace
}  // namespace dovetrel::testing
