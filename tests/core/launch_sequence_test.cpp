#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

using LaunchSequence = CoreTest;

TEST_F(LaunchSequence, ConstructingTheDelegateReadsAndStartsNothing) {
    EXPECT_TRUE(platform.calls.empty());
    EXPECT_EQ(platform.store.writeCount(), 0);
    EXPECT_EQ(platform.liveTimerCount(), 0);
}

TEST_F(LaunchSequence, WiresEverythingUpInOrderAndOpensNoWindow) {
    platform.store.editByHand("lastGrantedBuild", "0");
    launch();
    const std::vector<std::string> expected = {
        "resetAccessibilityRecord com.dovetrel.app",  // a different build ran before
        "isProcessTrusted prompt",
        "createStatusItem",
        "statusItem.setImage active",
        "statusItem.setMenu",
        "scheduleTimer 3 once",          // first idle timer
        "createEventTap 33554442",       // the tap, for left, right and other presses
        "tap.setEnabled false",          // ... created disabled
        "addGlobalMonitor 25371612384",  // movement, drags, keys, flags, scroll, gestures
        "httpGet https://dovetrel.app/releases/latest.json",
        "addWorkspaceObserver activeSpaceDidChange",
        "addWorkspaceObserver screensDidSleep",
        "addWorkspaceObserver sessionDidResignActive",
        "addWorkspaceObserver didActivateApplication",
        "addDistributedObserver com.apple.screenIsLocked",
        "addWorkspaceObserver didWake",
    };
    EXPECT_EQ(callsStartingWith({"resetAccessibilityRecord", "isProcessTrusted", "createStatusItem",
                                 "statusItem.", "scheduleTimer", "createEventTap", "tap.",
                                 "addGlobalMonitor", "httpGet", "addWorkspaceObserver",
                                 "addDistributedObserver"}),
              expected);
    EXPECT_EQ(platform.store.value("lastGrantedBuild"), "1");
    EXPECT_FALSE(platform.called("createOverlaySurface*"));
    EXPECT_FALSE(platform.called("createSettingsWindow"));
    ASSERT_NE(delegate->eventTap, nullptr);
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_NE(delegate->eventMonitor, nullptr);
    EXPECT_FALSE(delegate->accessibilityTimer);
}

TEST_F(LaunchSequence, NotificationsReachTheirHandlers) {
    launch();
    // With no overlay up: a space change re-arms the idle timer, sleep stops it, and an
    // activation changes nothing.
    platform.calls.clear();
    platform.post(WorkspaceNotification::activeSpaceDidChange);
    EXPECT_EQ(platform.calls,
              (std::vector<std::string>{"timer.invalidate 3", "scheduleTimer 3 once"}));

    for (const auto sleepOrLock :
         {WorkspaceNotification::screensDidSleep, WorkspaceNotification::sessionDidResignActive}) {
        platform.calls.clear();
        delegate->resetIdleTimer();
        platform.post(sleepOrLock);
        EXPECT_TRUE(platform.called("timer.invalidate 3")) << sim::toString(sleepOrLock);
        EXPECT_FALSE(delegate->idleTimer->isValid());
    }
    platform.calls.clear();
    delegate->resetIdleTimer();
    platform.postDistributed(kScreenIsLockedNotification);
    EXPECT_FALSE(delegate->idleTimer->isValid());

    platform.calls.clear();
    platform.post(WorkspaceNotification::didActivateApplication);
    EXPECT_TRUE(platform.calls.empty());
}

TEST_F(LaunchSequence, WithoutAMonitorLaunchingGoesOn) {
    platform.monitorInstalled = false;
    launch();
    EXPECT_EQ(delegate->eventMonitor, nullptr);
    EXPECT_TRUE(platform.called("addDistributedObserver com.apple.screenIsLocked"));
}

TEST_F(LaunchSequence, ATapThatCannotBeMadeIsRetriedEverySecondUntilItIs) {
    platform.tapCreationSucceeds = false;
    launch();
    EXPECT_EQ(delegate->eventTap, nullptr);
    ASSERT_NE(delegate->accessibilityTimer, nullptr);

    platform.advance(2.0);
    EXPECT_EQ(delegate->eventTap, nullptr);
    EXPECT_EQ(std::count(platform.calls.begin(), platform.calls.end(), "createEventTap 33554442"),
              3);

    platform.tapCreationSucceeds = true;
    platform.advance(1.0);
    ASSERT_NE(delegate->eventTap, nullptr);
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_EQ(delegate->accessibilityTimer, nullptr);
    EXPECT_EQ(platform.tapsCreated(), 1);
    platform.advance(5.0);
    EXPECT_EQ(platform.tapsCreated(), 1);
}

TEST_F(LaunchSequence, TimersOfAGoneDelegateDoNothing) {
    platform.tapCreationSucceeds = false;
    launch();
    delegate.reset();
    platform.calls.clear();
    platform.advance(10.0);
    EXPECT_FALSE(platform.called("createEventTap*"));
    EXPECT_FALSE(platform.called("createOverlaySurface*"));
}

}  // namespace
}  // namespace dovetrel::testing
