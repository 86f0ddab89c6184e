#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

using LaunchSequence = CoreTest;

TEST_F(LaunchSequence, ConstructingTheDelegateReadsAndStartsNothing) {
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(platform.store.writeCount(), 0);
    EXPECT_EQ(platform.liveTimerCount(), 0);
}

TEST_F(LaunchSequence, MakesTheTapDisabledAndOpensNoWindow) {
    launch();
    EXPECT_EQ(platform.callCount("createEventTap"), 1);
    EXPECT_FALSE(platform.tap()->isEnabled());
    EXPECT_FALSE(delegate->accessibilityTimer);
    EXPECT_FALSE(platform.overlay());
    EXPECT_TRUE(platform.settingsWindows.empty());
}

TEST_F(LaunchSequence, WithoutATrayLaunchingGoesOnAndTheGuardWorks) {
    platform.statusItemAvailable = false;
    showOverlay();
    EXPECT_EQ(delegate->statusItem, nullptr);
    EXPECT_FALSE(platform.sendPress(centre()));
    delegate->toggleEnabled();
    EXPECT_FALSE(delegate->isEnabled());
    delegate->showUpdateMenuItem("0.2.0");
}

TEST_F(LaunchSequence, ATapThatCannotBeMadeIsRetriedEverySecondUntilItIs) {
    platform.tapCreationSucceeds = false;
    launch();
    EXPECT_EQ(delegate->eventTap, nullptr);
    ASSERT_NE(delegate->accessibilityTimer, nullptr);

    platform.advance(2.0);
    EXPECT_EQ(delegate->eventTap, nullptr);
    EXPECT_EQ(platform.callCount("createEventTap"), 3);

    platform.tapCreationSucceeds = true;
    platform.advance(1.0);
    ASSERT_NE(delegate->eventTap, nullptr);
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_EQ(delegate->accessibilityTimer, nullptr);
    EXPECT_EQ(platform.callCount("createEventTap"), 4);
    platform.advance(5.0);
    EXPECT_EQ(platform.callCount("createEventTap"), 4);
}

TEST_F(LaunchSequence, TimersOfAGoneDelegateDoNothing) {
    platform.tapCreationSucceeds = false;
    launch();
    delegate.reset();
    platform.calls.clear();
    platform.advance(10.0);
    EXPECT_FALSE(platform.called("createEventTap"));
    EXPECT_FALSE(platform.called("createOverlaySurface"));
}

}  // namespace
}  // namespace dovetrel::testing
