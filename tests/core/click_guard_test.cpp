#include "core/click_guard.h"

#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

// An 80-point overlay at (460, 360) in window coordinates on a 900-point-high primary
// display: in tap coordinates it spans x 460..540 and y 460..540 (y flipped).
ClickGuardSnapshot shown(void (*change)(ClickGuardSnapshot&) = [](ClickGuardSnapshot&) {}) {
    ClickGuardSnapshot snapshot{true, true, {{460, 360}, {80, 80}}, 900};
    change(snapshot);
    return snapshot;
}

TEST(DecidePress, FollowsTheRules) {
    using enum PressVerdict;
    const ClickGuardSnapshot noScreens = shown([](auto& s) { s.primaryScreenHeight.reset(); });
    const ClickGuardSnapshot above = shown([](auto& s) { s.overlayFrame.origin = {100, 1000}; });
    const ClickGuardSnapshot below = shown([](auto& s) { s.overlayFrame.origin = {100, -500}; });
    const Point centre{500, 500};
    const struct {
        const char* name;
        ClickGuardSnapshot snapshot;
        Point tapLocation;
        uint64_t flags;
        PressVerdict expected;
    } cases[] = {
        {"guard off", shown([](auto& s) { s.guardOn = false; }), centre, 0, pass},
        {"overlay hidden", shown([](auto& s) { s.overlayVisible = false; }), centre, 0, pass},
        {"outside", shown(), {300, 300}, 0, passAndDismiss},
        {"centre", shown(), centre, 0, dropAndDismiss},
        {"Shift", shown(), centre, kShiftFlag, passAndDismiss},
        {"Control", shown(), centre, kControlFlag, passAndDismiss},
        {"Option", shown(), centre, kOptionFlag, passAndDismiss},
        {"Command", shown(), centre, kCommandFlag, passAndDismiss},
        // Lock-style and device flags are not modifiers.
        {"Caps Lock", shown(), centre, kCapsLockFlag, dropAndDismiss},
        {"numeric pad and function", shown(), centre, 0x200000 | 0x800000, dropAndDismiss},
        {"Caps Lock and Shift", shown(), centre, kCapsLockFlag | kShiftFlag, passAndDismiss},
        // Edges, in window coordinates after the flip: left and bottom inside, right and top
        // outside. Window y 360 (bottom edge) is tap y 540; window y 440 (top) is tap y 460.
        {"left edge", shown(), {460, 500}, 0, dropAndDismiss},
        {"bottom edge", shown(), {500, 540}, 0, dropAndDismiss},
        {"right edge", shown(), {540, 500}, 0, passAndDismiss},
        {"top edge", shown(), {500, 460}, 0, passAndDismiss},
        {"just inside the top", shown(), {500, 460.001}, 0, dropAndDismiss},
        // Without a screen list the press counts as on the overlay.
        {"no screens", noScreens, {1, 1}, 0, dropAndDismiss},
        {"no screens, Shift", noScreens, {1, 1}, kShiftFlag, passAndDismiss},
        // Displays above and below the primary one: tap y negative, or beyond its height.
        {"display above", above, {140, -140}, 0, dropAndDismiss},
        {"display below", below, {140, 1360}, 0, dropAndDismiss},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decidePress(c.snapshot, c.tapLocation, c.flags), c.expected) << c.name;
    }
}

using ClickGuard = CoreTest;

TEST_F(ClickGuard, PressesDuringTheCountdownAreNeverJudged) {
    launch();
    platform.advance(2.9);
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_TRUE(platform.sendPress(centre()));
}

TEST_F(ClickGuard, DropsAPressOnTheOverlayThenLetsTheNextOneThrough) {
    showOverlay();
    EXPECT_FALSE(platform.sendPress(centre()));
    // The dismissal ran after the callback had answered: the guard is off, the square fades
    // and a fresh countdown runs.
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_FALSE(delegate->cursorVisibilityTimer);
    EXPECT_EQ(platform.overlay()->fadeTarget(), 0.0);
    EXPECT_TRUE(idleTimerPending());
    EXPECT_TRUE(delegate->overlayWindow->isVisible());  // fading out
    EXPECT_TRUE(platform.sendPress(centre()));
    settle();
    EXPECT_FALSE(delegate->overlayWindow->isVisible());
}

// Passing presses take the square down too: a Shift-press on it, and a plain press beside it.
TEST_F(ClickGuard, APassingPressTakesTheSquareDownAsWell) {
    launch();
    for (const auto& [where, flags] :
         {std::pair{Point{500, 500}, kShiftFlag}, std::pair{Point{300, 300}, uint64_t{0}}}) {
        restAt({500, 400});
        EXPECT_TRUE(platform.sendPress(where, flags));
        EXPECT_FALSE(delegate->eventTap->isEnabled());
        settle();
        EXPECT_FALSE(overlayUp());
    }
}

// The flip from tap to window coordinates always takes the primary display's height, even
// when a taller display holds the active window.
TEST_F(ClickGuard, APressOnTheSquareIsDroppedWhicheverDisplayHasFocus) {
    platform.screens = {Rect{{0, 0}, {1440, 900}}, Rect{{1440, 0}, {1920, 1200}}};
    platform.mainScreen = platform.screens[1];
    showOverlay();
    EXPECT_FALSE(platform.sendPress(centre()));
}

TEST_F(ClickGuard, ASecondPressBeforeTheDismissalRunsIsJudgedTheSameWay) {
    showOverlay();
    const auto& callback = platform.tap()->handlers().callback;
    EXPECT_FALSE(callback(1, TapEvent{centre(), 0}));
    EXPECT_FALSE(callback(1, TapEvent{centre(), 0}));
    platform.runMainQueue();
    EXPECT_FALSE(delegate->eventTap->isEnabled());
}

TEST_F(ClickGuard, WithTheGuardSwitchedOffInThePreferencesEveryPressPassesAndNothingIsDismissed) {
    showOverlay();
    const auto callback = platform.tap()->handlers().callback;
    platform.store.editByHand("isEnabled", "false");
    platform.calls.clear();
    EXPECT_TRUE(callback(1, TapEvent{centre(), 0}));
    platform.runMainQueue();
    EXPECT_TRUE(platform.calls.empty());
}

TEST_F(ClickGuard, ASystemDisabledTapIsReenabledAndGuardingGoesOn) {
    showOverlay();
    platform.disableTapBySystem(kTapDisabledByTimeout);
    EXPECT_TRUE(delegate->eventTap->isEnabled());
    EXPECT_FALSE(platform.sendPress(centre()));
    // Even after the overlay has gone, as the system's word comes whatever the state.
    platform.disableTapBySystem(kTapDisabledByUserInput);
    EXPECT_TRUE(delegate->eventTap->isEnabled());
    EXPECT_TRUE(platform.sendPress({10, 10}));
}

TEST_F(ClickGuard, AGoneDelegatePassesEverything) {
    showOverlay();
    const auto callback = platform.tap()->handlers().callback;
    delegate.reset();
    EXPECT_TRUE(callback(1, TapEvent{centre(), 0}));
}

// A platform that answers presses off the main thread judges by what was published last, so
// that must follow the overlay, the guard switch and the screens.
TEST_F(ClickGuard, PublishesWhatPressesAreJudgedByWheneverItChanges) {
    const auto published = [&] { return platform.tap()->published().value(); };
    launch();
    EXPECT_FALSE(published().overlayVisible);
    platform.advance(3.0);
    EXPECT_TRUE(published().overlayVisible);
    EXPECT_EQ(published().overlayFrame, delegate->overlayWindow->frame());
    platform.store.editByHand("isEnabled", "false");
    EXPECT_FALSE(published().guardOn);
    platform.store.editByHand("isEnabled", "true");
    EXPECT_TRUE(published().guardOn);
    platform.screens = {Rect{{0, 0}, {1280, 800}}};
    platform.post(WorkspaceNotification::screenParametersDidChange);
    EXPECT_EQ(published().primaryScreenHeight, 800);
}

TEST_F(ClickGuard, WithoutATapTheOverlayStillComesAndGoes) {
    platform.tapCreationSucceeds = false;
    showOverlay();
    platform.movePointer({10, 10});
    EXPECT_FALSE(delegate->cursorVisibilityTimer);
}

}  // namespace
}  // namespace dovetrel::testing
