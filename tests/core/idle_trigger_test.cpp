// When the overlay comes and goes, on the virtual clock.
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <utility>

#include "core/settings_model.h"
#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

using IdleTrigger = CoreTest;

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

// Where only a surface under the pointer learns where it is, the answer comes late: whatever
// happens meanwhile leaves it showing nothing, and no answer at all waits for input.
TEST_F(IdleTrigger, ALatePointerAnswerShowsTheSquareThereUnlessOvertaken) {
    const Point answered{300, 300};
    const struct {
        const char* meanwhile;
        std::function<void()> happen;
        std::optional<Point> answer;
    } cases[] = {
        {"nothing", [] {}, answered},
        {"no answer", [] {}, std::nullopt},
        {"a key", [&] { platform.sendMonitorEvent(eventtype::kKeyDown); }, answered},
        {"switched off", [&] { platform.store.editByHand("isEnabled", "false"); }, answered},
        {"sleep", [&] { platform.post(WorkspaceNotification::screensDidSleep); }, answered},
        {"the screen gone dark unannounced", [&] { platform.screenLockedOrBlanked = true; },
         answered},
        {"a new arming", [&] { platform.post(WorkspaceNotification::activeSpaceDidChange); },
         answered},
    };
    platform.answersPointerLate = true;
    launch();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.meanwhile);
        platform.screenLockedOrBlanked = false;
        platform.store.editByHand("isEnabled", "true");
        platform.movePointer({500, 400});
        platform.advance(3.0);
        EXPECT_FALSE(overlayUp());
        c.happen();
        ASSERT_TRUE(platform.answerPointerQuery(c.answer));
        if (c.meanwhile == std::string("nothing")) {
            ASSERT_TRUE(overlayUp());
            EXPECT_EQ(delegate->overlayWindow->frame(), (Rect{{260, 260}, {80, 80}}));
            EXPECT_TRUE(delegate->eventTap->isEnabled());
            EXPECT_FALSE(idleTimerPending());
            EXPECT_FALSE(delegate->inputTimer);
            platform.movePointer({0, 0});
            settle();
            continue;
        }
        EXPECT_FALSE(overlayUp());
        if (!c.answer) {
            EXPECT_FALSE(idleTimerPending());
            platform.movePointer({600, 300});
            EXPECT_TRUE(idleTimerPending());
        }
    }
    // Of two questions, the answer to the older one is stale.
    platform.advance(3.0);
    platform.movePointer({500, 400});
    platform.advance(3.0);
    ASSERT_TRUE(platform.answerPointerQuery(Point{600, 300}));
    EXPECT_FALSE(overlayUp());
    ASSERT_TRUE(platform.answerPointerQuery(answered));
    EXPECT_TRUE(overlayUp());
}

// Each event type the monitor may report, and whether it takes a shown overlay down with the
// pointer inside the square; as input, every one of them postpones the overlay.
struct EventCase {
    uint32_t type;
    bool takesTheSquareDown;
};

TEST_F(IdleTrigger, AnyInputPostponesAndEachWatchedKindTakesTheSquareDownAsItSays) {
    // Movement, here inside the square, only postpones; presses, key releases, entry and
    // exit, tablet events and anything beyond the table take nothing down. The adapter
    // reports the named types, so their numbers must fall in the masks as their kinds say.
    using namespace eventtype;
    std::vector<EventCase> cases = {{kMouseMoved, false}};
    for (const uint32_t type :
         {kLeftMouseDragged, kRightMouseDragged, kKeyDown, kFlagsChanged, kRotate, kScrollWheel,
          kOtherMouseDragged, kGesture, kMagnify, kSwipe, kSmartMagnify, kPressure}) {
        cases.push_back({type, true});
    }
    for (const uint32_t type : {1, 2, 3, 11, 8, 23, 35, 63}) {
        cases.push_back({type, false});
    }
    launch();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        platform.advance(2.5);
        platform.sendMonitorEvent(c.type);
        EXPECT_EQ(platform.nextDeadline(), platform.now() + 3.0);
        platform.advance(3.0);
        ASSERT_TRUE(overlayUp());
        platform.sendMonitorEvent(c.type);
        settle();
        EXPECT_EQ(overlayUp(), !c.takesTheSquareDown);
        platform.movePointer({0, 0});
        settle();
        platform.movePointer({500, 400});
    }
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

TEST_F(IdleTrigger, WhileFadingEventsStillTreatTheOverlayAsUp) {
    showOverlay();
    platform.sendMonitorEvent(10);
    const double deadline = *platform.nextDeadline();
    platform.movePointer({470, 370});  // inside: nothing at all
    EXPECT_EQ(platform.nextDeadline(), deadline);
    platform.movePointer({0, 0});  // outside: the dismissal is repeated harmlessly
    EXPECT_EQ(platform.overlay()->fadeTarget(), 0.0);
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
    EXPECT_FALSE(idleTimerPending()) << "dormant until the next event";
    platform.cursor.reset();

    // A full-screen program in front.
    platform.frontmostPid = 42;
    platform.windows = std::vector<WindowInfo>{{42, Size{1440, 900}}};
    platform.movePointer({600, 400});
    platform.advance(3.0);
    EXPECT_FALSE(delegate->overlayWindow);
    EXPECT_EQ(platform.windowListQueries, 1);

    platform.windows = std::vector<WindowInfo>{{42, Size{1440, 870}}};
    restAt({600, 400});
}

TEST_F(IdleTrigger, TheCheckWhileUpTakesTheOverlayDownWhenThePointerIsHiddenOrElsewhere) {
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
    // Moved by another program, the pointer brings no input event.
    platform.pointer.x += 100;
    platform.advance(0.25);
    EXPECT_FALSE(delegate->cursorVisibilityTimer);
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
        SCOPED_TRACE(route);
        platform.store.editByHand("isEnabled", "true");
        restAt({500, 400});
        switchOff();
        EXPECT_FALSE(delegate->eventTap->isEnabled());
        EXPECT_FALSE(delegate->cursorVisibilityTimer);
        EXPECT_TRUE(platform.sendPress({500, 500}));
        EXPECT_FALSE(platform.statusItem()->image()->active);
        // The pointer rests on: the square does not come back, and input arms nothing.
        platform.advance(30.0);
        EXPECT_FALSE(overlayUp());
        platform.movePointer({600, 300});
        EXPECT_FALSE(idleTimerPending());
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
    restAt({600, 300});
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
        {70000, {-50, -50}, screens, 900},                       // on no screen
        {80, {100, 100}, {Rect{}, screens[1], screens[0]}, 80},  // an empty screen holds nothing
        {1e-9, {100, 100}, screens, 8},
        {nan, {100, 100}, screens, 8},
        // Without a screen, the largest size the settings offer.
        {1e308, {0, 0}, {}, 200},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(overlaySide(c.size, c.pointer, c.screens), c.side) << c.size;
    }
}

// Once a first square has come and gone its window stays around, hidden: sleep, lock and a
// later activation must still find nothing up and arm nothing, whatever the platform can tell
// of the screen.
TEST_F(IdleTrigger, AfterAFirstSquareSleepLockOrActivationArmNothing) {
    const std::vector<std::pair<const char*, std::function<void()>>> routes = {
        {"sleep", [&] { platform.post(WorkspaceNotification::screensDidSleep); }},
        {"session", [&] { platform.post(WorkspaceNotification::sessionDidResignActive); }},
        {"lock", [&] { platform.postDistributed(kScreenIsLockedNotification); }},
    };
    launch();
    for (const auto& [name, post] : routes) {
        SCOPED_TRACE(name);
        restAt({500, 400});
        platform.movePointer({0, 0});
        settle();
        post();
        platform.post(WorkspaceNotification::didActivateApplication);
        EXPECT_FALSE(idleTimerPending());
        platform.advance(30.0);
        EXPECT_FALSE(overlayUp());
    }
}

TEST_F(IdleTrigger, SpaceChangesAlwaysLeaveAFreshCountdown) {
    launch();
    platform.advance(2.0);
    platform.post(WorkspaceNotification::activeSpaceDidChange);
    platform.advance(2.0);
    EXPECT_FALSE(overlayUp());
    platform.advance(1.0);
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
    restAt({300, 300});
    EXPECT_EQ(delegate->overlayWindow->frame(), (Rect{{240, 240}, {120, 120}}));
    EXPECT_EQ(platform.callCount("createOverlaySurface"), 1);
}

TEST_F(IdleTrigger, ANewTimeoutTakesEffectAtTheNextArming) {
    delegate->resetIdleTimer();
    delegate->setIdleTimeout(8);
    EXPECT_EQ(platform.nextDeadline(), platform.now() + 3.0);
    delegate->resetIdleTimer();
    EXPECT_EQ(platform.nextDeadline(), platform.now() + 8.0);
}

}  // namespace
}  // namespace dovetrel::testing
