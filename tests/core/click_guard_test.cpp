#include "core/click_guard.h"

#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

// An 80-point overlay at (460, 360) in window coordinates on a 900-point-high primary
// display: in tap coordinates it spans x 460..540 and y 460..540 (y flipped).
ClickGuardSnapshot shownOverlay() {
    return {.guardOn = true,
            .overlayVisible = true,
            .overlayFrame = {{460, 360}, {80, 80}},
            .primaryScreenHeight = 900};
}

struct PressCase {
    const char* name;
    ClickGuardSnapshot snapshot;
    Point tapLocation;
    uint64_t flags;
    PressVerdict expected;
};

class DecidePress : public ::testing::TestWithParam<PressCase> {};

TEST_P(DecidePress, FollowsTheRules) {
    const auto& c = GetParam();
    EXPECT_EQ(decidePress(c.snapshot, c.tapLocation, c.flags), c.expected);
}

ClickGuardSnapshot with(ClickGuardSnapshot snapshot, void (*change)(ClickGuardSnapshot&)) {
    change(snapshot);
    return snapshot;
}

const Point kCentre{500, 500};

INSTANTIATE_TEST_SUITE_P(
    Table, DecidePress,
    ::testing::Values(
        PressCase{"GuardOff", with(shownOverlay(), [](auto& s) { s.guardOn = false; }), kCentre, 0,
                  PressVerdict::pass},
        PressCase{"OverlayHidden", with(shownOverlay(), [](auto& s) { s.overlayVisible = false; }),
                  kCentre, 0, PressVerdict::pass},
        PressCase{"Outside", shownOverlay(), {300, 300}, 0, PressVerdict::passAndDismiss},
        PressCase{"Centre", shownOverlay(), kCentre, 0, PressVerdict::dropAndDismiss},
        PressCase{"Shift", shownOverlay(), kCentre, kShiftFlag, PressVerdict::passAndDismiss},
        PressCase{"Control", shownOverlay(), kCentre, kControlFlag, PressVerdict::passAndDismiss},
        PressCase{"Option", shownOverlay(), kCentre, kOptionFlag, PressVerdict::passAndDismiss},
        PressCase{"Command", shownOverlay(), kCentre, kCommandFlag, PressVerdict::passAndDismiss},
        // Lock-style and device flags are not modifiers.
        PressCase{"CapsLockOnly", shownOverlay(), kCentre, kCapsLockFlag,
                  PressVerdict::dropAndDismiss},
        PressCase{"NumericPadAndFunctionFlags", shownOverlay(), kCentre, 0x200000 | 0x800000,
                  PressVerdict::dropAndDismiss},
        PressCase{"CapsLockAndShift", shownOverlay(), kCentre, kCapsLockFlag | kShiftFlag,
                  PressVerdict::passAndDismiss},
        // Edges, in window coordinates after the flip: left and bottom inside, right and top
        // outside. Window y 360 (bottom edge) is tap y 540; window y 440 (top) is tap y 460.
        PressCase{"LeftEdge", shownOverlay(), {460, 500}, 0, PressVerdict::dropAndDismiss},
        PressCase{"BottomEdge", shownOverlay(), {500, 540}, 0, PressVerdict::dropAndDismiss},
        PressCase{"RightEdge", shownOverlay(), {540, 500}, 0, PressVerdict::passAndDismiss},
        PressCase{"TopEdge", shownOverlay(), {500, 460}, 0, PressVerdict::passAndDismiss},
        PressCase{"JustInsideTop", shownOverlay(), {500, 460.001}, 0, PressVerdict::dropAndDismiss},
        // Without a screen list the press counts as on the overlay.
        PressCase{"NoScreens",
                  with(shownOverlay(), [](auto& s) { s.primaryScreenHeight = std::nullopt; }),
                  {1, 1},
                  0,
                  PressVerdict::dropAndDismiss},
        PressCase{"NoScreensWithShift",
                  with(shownOverlay(), [](auto& s) { s.primaryScreenHeight = std::nullopt; }),
                  {1, 1},
                  kShiftFlag,
                  PressVerdict::passAndDismiss},
        // A display above the primary one: window y above 900, tap y negative.
        PressCase{"OverlayOnADisplayAbove",
                  with(shownOverlay(),
                       [](auto& s) {
                           s.overlayFrame = {{100, 1000}, {80, 80}};
                       }),
                  {140, -140},
                  0,
                  PressVerdict::dropAndDismiss},
        PressCase{"OverlayOnADisplayBelow",
                  with(shownOverlay(),
                       [](auto& s) {
                           s.overlayFrame = {{100, -500}, {80, 80}};
                       }),
                  {140, 1360},
                  0,
                  PressVerdict::dropAndDismiss}),
    [](const auto& info) { return std::string(info.param.name); });

using ClickGuard = CoreTest;

TEST_F(ClickGuard, PressesDuringTheCountdownAreNeverJudged) {
    launch();
    platform.advance(2.9);
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_TRUE(platform.sendPress(centre()));
}

TEST_F(ClickGuard, DropsAPressOnTheOverlayThenLetsTheNextOneThrough) {
    showOverlay();
    EXPECT_TRUE(delegate->eventTap->isEnabled());
    EXPECT_FALSE(platform.sendPress(centre()));
    // The dismissal ran after the callback had answered: the guard is off, the square fades
    // and a fresh countdown runs.
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_FALSE(delegate->cursorVisibilityTimer);
    EXPECT_EQ(platform.overlay()->fadeTarget(), 0.0);
    EXPECT_TRUE(idleTimerPending());
    EXPECT_TRUE(delegate->overlayWindow->isVisible());  // fading out
    EXPECT_TRUE(platform.sendPress(centre()));
    platform.advance(0.15);
    EXPECT_FALSE(delegate->overlayWindow->isVisible());
    // Resting on shows it again at the same place.
    platform.advance(2.85);
    EXPECT_TRUE(delegate->overlayWindow->isVisible());
    EXPECT_EQ(delegate->overlayWindow->frame(), (Rect{{460, 360}, {80, 80}}));
}

TEST_F(ClickGuard, RightAndOtherButtonsAreTreatedLikeTheLeft) {
    showOverlay();
    for (const uint32_t type : {1u, 3u, 25u}) {
        EXPECT_FALSE(platform.sendPress(centre(), 0, type)) << type;
        platform.advance(0.15);
        EXPECT_FALSE(delegate->overlayWindow->isVisible());
        platform.advance(2.85);
        ASSERT_TRUE(delegate->overlayWindow->isVisible());
    }
}

// Passing presses take the square down too: a Shift-press on it, and a plain press beside it.
TEST_F(ClickGuard, APassingPressTakesTheSquareDownAsWell) {
    launch();
    for (const auto& [where, flags] :
         {std::pair{Point{500, 500}, kShiftFlag}, std::pair{Point{300, 300}, uint64_t{0}}}) {
        platform.movePointer({500, 400});
        platform.advance(3.0);
        ASSERT_TRUE(overlayUp());
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
    bool firstPassed = true;
    bool secondPassed = true;
    const auto& callback = platform.tap()->handlers().callback;
    firstPassed = callback(1, TapEvent{centre(), 0});
    secondPassed = callback(1, TapEvent{centre(), 0});
    platform.runMainQueue();
    EXPECT_FALSE(firstPassed);
    EXPECT_FALSE(secondPassed);
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
    EXPECT_TRUE(eventTapCallback(1, TapEvent{{0, 0}, 0}, nullptr));
    showOverlay();
    const auto callback = platform.tap()->handlers().callback;
    const auto snapshot = platform.tap()->handlers().snapshot;
    delegate.reset();
    EXPECT_TRUE(callback(1, TapEvent{centre(), 0}));
    EXPECT_FALSE(snapshot().guardOn);
}

TEST_F(ClickGuard, WithoutATapTheOverlayComesAndGoesButNothingIsDropped) {
    platform.tapCreationSucceeds = false;
    launch();
    platform.advance(3.0);
    EXPECT_TRUE(delegate->overlayWindow->isVisible());
    EXPECT_TRUE(platform.sendPress(centre()));
    platform.movePointer({10, 10});
    EXPECT_FALSE(delegate->cursorVisibilityTimer);
}

}  // namespace
}  // namespace dovetrel::testing
