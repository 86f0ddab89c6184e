// The permission to filter input: reset after an update, request, loss and recovery.
#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

class Trust : public CoreTest {
  protected:
    int resets() const { return platform.callCount("resetAccessibilityRecord"); }
};

TEST_F(Trust, TheRecordIsResetOnlyWhenADifferentBuildRanBefore) {
    platform.buildNumber = "8";
    launch();
    EXPECT_EQ(resets(), 0) << "first launch";
    EXPECT_EQ(platform.store.value("lastGrantedBuild"), "8");

    const int writes = platform.store.writeCount();
    delegate->resetAccessibilityIfUpdated();
    EXPECT_EQ(resets(), 0) << "same build";
    EXPECT_EQ(platform.store.writeCount(), writes) << "the same build is not written again";

    platform.store.editByHand("lastGrantedBuild", "7");
    delegate->resetAccessibilityIfUpdated();
    EXPECT_EQ(resets(), 1);
    EXPECT_EQ(platform.store.value("lastGrantedBuild"), "8");

    platform.buildNumber.reset();
    delegate->resetAccessibilityIfUpdated();
    EXPECT_EQ(platform.store.value("lastGrantedBuild"), "0");
    EXPECT_EQ(resets(), 2);
}

TEST_F(Trust, WithoutPermissionAtLaunchOnePollWaitsAndThenInstallsTheTap) {
    platform.trusted = false;
    platform.tapCreationSucceeds = false;
    launch();
    EXPECT_TRUE(platform.called("isProcessTrusted prompt"));
    ASSERT_TRUE(delegate->accessibilityTimer);
    // The tap's own retry did not start a second timer: one poll and the idle timer.
    EXPECT_EQ(platform.liveTimerCount(), 2);
    platform.advance(3.0);

    platform.trusted = true;
    platform.tapCreationSucceeds = true;
    platform.advance(1.0);
    ASSERT_NE(delegate->eventTap, nullptr);
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_FALSE(delegate->accessibilityTimer);
    EXPECT_FALSE(idleTimerPending()) << "the countdown from launch is not started again";
}

TEST_F(Trust, LosingPermissionWithTheOverlayUpKillsTheTapAtOnceAndRecoveryRestoresIt) {
    showOverlay();
    auto* tap = platform.tap();
    platform.trusted = false;
    platform.tapCreationSucceeds = false;
    platform.advance(0.25);
    EXPECT_FALSE(tap->isEnabled());
    EXPECT_FALSE(tap->isValid());
    EXPECT_EQ(delegate->eventTap, nullptr);
    EXPECT_FALSE(overlayUp()) << "ordered out without a fade";
    EXPECT_FALSE(delegate->cursorVisibilityTimer);
    EXPECT_FALSE(delegate->idleTimer);
    EXPECT_EQ(platform.liveTimerCount(), 2);  // the recovery poll and the wait for input
    EXPECT_FALSE(platform.statusItem()->image()->active) << "the icon says nothing is guarded";

    // Input arms the countdown again, but a rest shows nothing while the permission is
    // missing, and no second poll starts.
    platform.movePointer({600, 300});
    platform.advance(3.0);
    EXPECT_FALSE(overlayUp());
    EXPECT_EQ(platform.liveTimerCount(), 2);

    // Permission comes back: the countdown the recovery restarts shows the square, guarded,
    // with a single check running.
    platform.trusted = true;
    platform.tapCreationSucceeds = true;
    platform.advance(1.0);
    ASSERT_NE(delegate->eventTap, nullptr);
    EXPECT_FALSE(delegate->accessibilityTimer);
    EXPECT_TRUE(platform.statusItem()->image()->active);
    EXPECT_TRUE(idleTimerPending());
    platform.advance(3.0);
    EXPECT_TRUE(overlayUp());
    EXPECT_EQ(platform.liveTimerCount(), 1);
    EXPECT_FALSE(platform.sendPress({600, 600}));
}

TEST_F(Trust, ThePollMakesNoSecondTapWhenOneExists) {
    platform.trusted = false;
    launch();  // the tap is made though permission is missing
    ASSERT_TRUE(delegate->accessibilityTimer);
    platform.trusted = true;
    platform.advance(1.0);
    EXPECT_FALSE(delegate->accessibilityTimer);
    EXPECT_EQ(platform.callCount("createEventTap"), 1);
}

TEST_F(Trust, ALossWhileTheLaunchPollRunsStartsNoSecondPollAndInputStillArmsTheCountdown) {
    platform.trusted = false;
    launch();  // the tap exists (made before), but permission is missing
    const auto poll = delegate->accessibilityTimer;
    platform.advance(3.0);
    EXPECT_FALSE(overlayUp());
    EXPECT_EQ(delegate->accessibilityTimer, poll);
    platform.trusted = true;
    platform.advance(1.0);
    EXPECT_NE(delegate->eventTap, nullptr);
    EXPECT_FALSE(delegate->accessibilityTimer);
    restAt({600, 300});
}

}  // namespace
}  // namespace dovetrel::testing
