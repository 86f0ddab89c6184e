// When the overlay comes and goes, on the virtual clock.
#include <functional>
#include <limits>
#include <utility>

#include "core/settings_model.h"
#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

class IdleTrigger : public CoreTest {
  protected:
    bool overlayUp() const {
        return delegate->overlayWindow && delegate->overlayWindow->isVisible();
    }
    void showOverlay() {
        launch();
        platform.advance(3.0);
        ASSERT_TRUE(overlayUp());
    }
    // Lets a fade-out finish.
    void settle() { platform.advance(0.15); }
    bool idleTimerPending() const { return delegate->idleTimer && delegate->idleTimer->isValid(); }
};

TEST_F(IdleTrigger, ShowsTheOverlayCentredAfterExactlyTheIdleTimeout) {
    launch();
    platform.advance(2.999);
    EXPECT_FALSE(overlayUp());
    platform.advance(0.001);
    ASSERT_TRUE(overlayUp());
    EXPECT_EQ(delegate->overlayWindow->frame(), (Rect{{460, 360}, {80, 80}}));
    EXPECT_TRUE(delegate->eventTap->isEnabled());
    EXPECT_TRUE(delegate->cursorVisibilityTimer);
    EXPECT_FALSE(idleTimerPending());
}

TEST_F(IdleTrigger, InputHandedOverDuringThePointerQueryLeavesNoTimerBehind) {
    bool querying = false;
    platform.onMouseLocation = [&] {
        if (!std::exchange(querying, true)) {
            platform.sendMonitorEvent(5);
            querying = false;
        }
    };
    launch();
    for (int round = 0; round < 3; ++round) {
        platform.advance(3.0);
        ASSERT_TRUE(overlayUp());
        EXPECT_FALSE(idleTimerPending());
        platform.movePointer({10, 10});
        settle();
        EXPECT_FALSE(overlayUp());
        // The countdown is all that is left running.
        EXPECT_EQ(platform.liveTimerCount(), 1);
        platform.movePointer({500, 400});
    }
}

TEST_F(IdleTrigger, EveryWatchedEventPostponesTheOverlay) {
    launch();
    for (const uint32_t type : {5u, 6u, 7u, 10u, 12u, 18u, 22u, 27u, 29u, 30u, 31u, 32u, 34u}) {
        platform.advance(2.5);
        platform.sendMonitorEvent(type);
        EXPECT_FALSE(overlayUp()) << type;
        EXPECT_EQ(platform.nextDeadline(), platform.now() + 3.0) << type;
    }
}

TEST_F(IdleTrigger, IgnoresEventsItDoesNotWatch) {
    launch();
    platform.advance(2.0);
    // Presses, key releases, entry and exit, tablet events, and anything beyond the table.
    for (const uint32_t type : {1u, 2u, 3u, 11u, 8u, 23u, 35u, 63u}) {
        delegate->handleMonitorEvent(type);
    }
    platform.advance(1.0);
    EXPECT_TRUE(overlayUp());
}

TEST_F(IdleTrigger, MovementInsideTheSquareKeepsItAndLeavingTakesItDown) {
    showOverlay();
    for (const Point inside : {Point{460, 360}, Point{539.9, 439.9}, Point{470, 430}}) {
        platform.movePointer(inside);
        EXPECT_TRUE(overlayUp());
        EXPECT_TRUE(delegate->eventTap->isEnabled());
    }
    EXPECT_FALSE(idleTimerPending());
    platform.movePointer({540, 400});  // the right edge is outside
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_TRUE(overlayUp());  // still fading
    settle();
    EXPECT_FALSE(overlayUp());
    EXPECT_TRUE(idleTimerPending());
}

TEST_F(IdleTrigger, ActivityTakesTheOverlayDownEvenInsideTheSquare) {
    launch();
    for (const uint32_t type : {6u, 10u, 12u, 22u, 29u}) {
        platform.advance(3.0);
        ASSERT_TRUE(overlayUp()) << type;
        platform.sendMonitorEvent(type);
        settle();
        EXPECT_FALSE(overlayUp()) << type;
    }
}

TEST_F(IdleTrigger, ComesBackAtTheSamePlaceAfterADismissalWhenThePointerRests) {
    showOverlay();
    platform.sendMonitorEvent(10);
    settle();
    platform.advance(2.85);
    ASSERT_TRUE(overlayUp());
    EXPECT_EQ(delegate->overlayWindow->frame().origin, (Point{460, 360}));
}

TEST_F(IdleTrigger, WhileFadingEventsStillTreatTheOverlayAsUp) {
    showOverlay();
    platform.sendMonitorEvent(10);
    platform.calls.clear();
    platform.movePointer({470, 370});  // inside: nothing at all
    EXPECT_TRUE(platform.calls.empty());
    platform.movePointer({0, 0});  // outside: the dismissal is repeated harmlessly
    EXPECT_TRUE(platform.called("overlay.animateAlpha 0 0.15 easeIn"));
    settle();
    EXPECT_FALSE(overlayUp());
}

TEST_F(IdleTrigger, ConditionsAtTheFiringAreTestedInOrderAndAFailureLeavesItDormant) {
    launch();
    // Switched off: nothing shown, and nothing else asked.
    platform.store.editByHand("isEnabled", "false");
    platform.advance(3.0);
    EXPECT_FALSE(delegate->overlayWindow);
    EXPECT_EQ(platform.cursorQueries, 0);
    platform.store.editByHand("isEnabled", "true");

    // Snoozed.
    delegate->resetIdleTimer();
    delegate->snoozeEndDate = platform.now() + 300;
    platform.advance(3.0);
    EXPECT_FALSE(delegate->overlayWindow);
    EXPECT_EQ(platform.cursorQueries, 0);
    delegate->snoozeEndDate.reset();

    // Pointer hidden: the full-screen test is not even asked.
    platform.cursor = CursorImage{{1, 1}, std::vector<uint8_t>{1}, std::nullopt};
    delegate->resetIdleTimer();
    platform.advance(3.0);
    EXPECT_FALSE(delegate->overlayWindow);
    EXPECT_EQ(platform.windowListQueries, 0);
    EXPECT_FALSE(idleTimerPending());
    // Dormant until the next event.
    platform.cursor.reset();
    platform.advance(10.0);
    EXPECT_FALSE(delegate->overlayWindow);

    // A full-screen program in front.
    platform.frontmostPid = 42;
    platform.windows = std::vector<WindowInfo>{{42, Size{1440, 900}}};
    platform.movePointer({600, 400});
    platform.advance(3.0);
    EXPECT_FALSE(delegate->overlayWindow);
    EXPECT_EQ(platform.windowListQueries, 1);

    platform.windows = std::vector<WindowInfo>{{42, Size{1440, 870}}};
    platform.movePointer({600, 400});
    platform.advance(3.0);
    EXPECT_TRUE(overlayUp());
}

TEST_F(IdleTrigger, TheCheckWhileUpTakesTheOverlayDownWhenThePointerIsHidden) {
    showOverlay();
    platform.advance(1.0);
    EXPECT_TRUE(overlayUp());
    platform.cursor = CursorImage{{1, 1}, std::nullopt, std::nullopt};
    platform.advance(0.25);
    EXPECT_FALSE(delegate->cursorVisibilityTimer);
    settle();
    EXPECT_FALSE(overlayUp());
    // The full-screen test is not looked at by the check.
    platform.cursor.reset();
    platform.advance(3.0);
    ASSERT_TRUE(overlayUp());
    platform.frontmostPid = 42;
    platform.windows = std::vector<WindowInfo>{{42, Size{1440, 900}}};
    platform.advance(2.0);
    EXPECT_TRUE(overlayUp());
}

TEST_F(IdleTrigger, SwitchingTheGuardOffByAnyRouteTakesTheOverlayDownForGood) {
    SettingsModel settings(platform);
    const std::vector<std::pair<std::string, std::function<void()>>> routes = {
        {"hand edit", [&] { platform.store.editByHand("isEnabled", "false"); }},
        {"settings window", [&] { settings.toggleEnabled(); }},
        {"menu", [&] { delegate->toggleEnabled(); }},
    };
    launch();
    for (const auto& [route, switchOff] : routes) {
        platform.store.editByHand("isEnabled", "true");
        platform.movePointer({500, 400});
        platform.advance(3.0);
        ASSERT_TRUE(overlayUp()) << route;
        switchOff();
        EXPECT_FALSE(delegate->eventTap->isEnabled()) << route;
        EXPECT_FALSE(delegate->cursorVisibilityTimer) << route;
        EXPECT_TRUE(platform.sendPress({500, 500})) << route;
        EXPECT_FALSE(platform.statusItem()->image()->active) << route;
        // The pointer rests on: the square does not come back.
        platform.advance(30.0);
        EXPECT_FALSE(overlayUp()) << route;
    }
}

TEST_F(IdleTrigger, NothingIsShownWhileTheScreenIsLockedOrBlankedUntilInputAfterUnlocking) {
    showOverlay();
    platform.screenLockedOrBlanked = true;
    platform.postDistributed(kScreenIsLockedNotification);
    // The dismissal armed a fresh countdown; its firing finds the screen locked.
    platform.advance(30.0);
    EXPECT_FALSE(overlayUp());
    EXPECT_FALSE(idleTimerPending());

    platform.screenLockedOrBlanked = false;
    platform.advance(30.0);
    EXPECT_FALSE(overlayUp());
    platform.movePointer({600, 300});
    platform.advance(3.0);
    EXPECT_TRUE(overlayUp());
}

TEST_F(IdleTrigger, TheCountdownHoldsAnyStoredTimeoutWithinATenthOfASecondAndADay) {
    const std::pair<const char*, double> cases[] = {
        {"2.5", 2.5},     {"0.1", 0.1},     {"0.05", 0.1},        {"1e-300", 0.1},
        {"86400", 86400}, {"86401", 86400}, {"4294967.3", 86400}, {"1e308", 86400},
    };
    for (const auto& [stored, seconds] : cases) {
        platform.store.editByHand("idleTimeout", stored);
        delegate->resetIdleTimer();
        EXPECT_EQ(platform.nextDeadline(), platform.now() + seconds) << stored;
    }
}

TEST_F(IdleTrigger, TheSquareIsNeverLargerThanTheScreenUnderThePointer) {
    platform.screens = {Rect{{0, 0}, {1440, 900}}, Rect{{1440, 0}, {600, 400}}};
    platform.store.editByHand("zoneSize", "1e308");
    platform.pointer = {1700, 200};
    showOverlay();
    EXPECT_EQ(delegate->overlayWindow->frame(), (Rect{{1500, 0}, {400, 400}}));
    EXPECT_FALSE(platform.sendPress({1700, 700}));  // the square is judged as it is drawn
    EXPECT_TRUE(platform.called("createOverlaySurface 0,0,400x400"));
}

TEST(OverlaySide, FitsTheScreenUnderThePointerAndKeepsAFewPixels) {
    const std::vector<Rect> screens = {Rect{{0, 0}, {1440, 900}}, Rect{{1440, 0}, {600, 400}}};
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double size;
        Point pointer;
        std::vector<Rect> screens;
        double side;
    } cases[] = {
        {80, {100, 100}, screens, 80},
        {70000, {100, 100}, screens, 900},
        {70000, {1500, 10}, screens, 400},
        {70000, {-50, -50}, screens, 900},  // on no screen
        {1e-9, {100, 100}, screens, kMinimumOverlaySide},
        {nan, {100, 100}, screens, kMinimumOverlaySide},
        {1e308, {0, 0}, {}, kMaximumOverlaySideWithoutScreens},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(overlaySide(c.size, c.pointer, c.screens), c.side) << c.size;
    }
}

TEST_F(IdleTrigger, SleepAndLockStopTheCountdownOrTakeTheOverlayDown) {
    launch();
    platform.post(WorkspaceNotification::screensDidSleep);
    platform.advance(10.0);
    EXPECT_FALSE(delegate->overlayWindow);  // stopped until the next event
    platform.movePointer({600, 400});
    platform.advance(3.0);
    ASSERT_TRUE(overlayUp());

    platform.calls.clear();
    platform.postDistributed(kScreenIsLockedNotification);
    settle();
    EXPECT_FALSE(overlayUp());
    EXPECT_TRUE(idleTimerPending());  // a fresh countdown after the dismissal
}

TEST_F(IdleTrigger, SpaceChangesAlwaysLeaveAFreshCountdown) {
    launch();
    platform.advance(2.0);
    platform.post(WorkspaceNotification::activeSpaceDidChange);
    EXPECT_EQ(platform.nextDeadline(), platform.now() + 3.0);
    platform.advance(3.0);
    ASSERT_TRUE(overlayUp());
    platform.post(WorkspaceNotification::activeSpaceDidChange);
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    settle();
    EXPECT_FALSE(overlayUp());
    EXPECT_TRUE(idleTimerPending());
}

TEST_F(IdleTrigger, ANewSizeAppliesAtTheNextShowingOnly) {
    showOverlay();
    delegate->setZoneSize(120);
    EXPECT_EQ(delegate->overlayWindow->frame().size, (Size{80, 80}));
    platform.movePointer({0, 0});
    settle();
    platform.pointer = {300, 300};
    platform.advance(3.0);
    EXPECT_EQ(delegate->overlayWindow->frame(), (Rect{{240, 240}, {120, 120}}));
    EXPECT_EQ(platform.called("createOverlaySurface*"), true);
    EXPECT_EQ(std::count_if(platform.calls.begin(), platform.calls.end(),
                            [](const auto& c) { return c.rfind("createOverlaySurface", 0) == 0; }),
              1);
}

TEST_F(IdleTrigger, TimersWaitWhileAMenuIsOpen) {
    launch();
    platform.beginMenuTracking();
    platform.advance(5.0);
    EXPECT_FALSE(overlayUp());
    platform.endMenuTracking();
    EXPECT_TRUE(overlayUp());
}

}  // namespace
}  // namespace dovetrel::testing
