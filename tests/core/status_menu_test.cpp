// The tray menu, the Enabled toggle, snooze and the icon.
#include "core/status_menu.h"

#include "core/settings_model.h"
#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

class StatusMenu : public CoreTest {
  protected:
    sim::SimStatusItem& item() { return *platform.statusItem(); }
    const std::vector<std::shared_ptr<MenuItem>>& items() { return item().menu()->items(); }
    std::shared_ptr<MenuItem> choice(int index) {
        return delegate->snoozeMenuItem->submenu->items()[index];
    }
    bool active() { return item().image()->active; }
};

TEST_F(StatusMenu, IsBuiltOnceAtLaunchWithItsItems) {
    launch();
    EXPECT_EQ(item().shownMenu(),
              (std::vector<std::string>{"[x] Enabled", "Snooze", "---", "Settings\u2026", "---",
                                        "Quit Dovetrel"}));
    EXPECT_EQ(titles(*delegate->snoozeMenuItem->submenu),
              (std::vector<std::string>{"5 minutes", "10 minutes", "15 minutes", "30 minutes",
                                        "1 hour"}));
    EXPECT_EQ(items()[3]->keyEquivalent, ",");
    EXPECT_EQ(items()[5]->keyEquivalent, "q");
    EXPECT_TRUE(active());
    item().choose(items()[3]);
    EXPECT_EQ(platform.settingsWindows.size(), 1u);
    item().choose(items()[5]);
    EXPECT_TRUE(platform.called("terminate"));
}

// Some hosts show the menu without asking first: what they show must be right from the start.
TEST_F(StatusMenu, LaunchedSwitchedOffTheMenuShowsItBeforeItIsEverOpened) {
    platform.store.editByHand("isEnabled", "false");
    launch();
    EXPECT_EQ(item().shownMenu().front(), "[ ] Enabled");
    EXPECT_FALSE(active());
}

TEST_F(StatusMenu, WithoutAButtonTheItemStillGetsItsMenu) {
    platform.statusItemHasButton = false;
    launch();
    EXPECT_FALSE(item().image());
    EXPECT_EQ(items().size(), 6u);
    delegate->updateMenuBarIcon();
    EXPECT_FALSE(item().image());
}

// What switching off does is checked with the other routes in IdleTrigger, and through a
// panel end to end.
TEST_F(StatusMenu, SwitchingBackOnChecksTheItemButLeavesTheSquareToTheIdleTimer) {
    showOverlay();
    item().choose(items()[0]);
    platform.advance(10.0);
    item().openMenu();
    EXPECT_FALSE(items()[0]->isOn);
    item().choose(items()[0]);
    EXPECT_TRUE(items()[0]->isOn);
    EXPECT_TRUE(active());
    EXPECT_FALSE(overlayUp());  // only the idle timer brings it back
    restAt({700, 300});
}

TEST_F(StatusMenu, ChangesMadeElsewhereShowAtOnceAndNothingElseWakesTheMenu) {
    launch();
    platform.store.editByHand("isEnabled", "false");
    EXPECT_EQ(item().shownMenu().front(), "[ ] Enabled");
    EXPECT_FALSE(active());

    // At rest with no square only the idle timer is left; it fires once and all sleeps. A
    // slider step in the settings leaves the menu be.
    platform.calls.clear();
    SettingsModel(platform).setIdleTimeout(5.5);
    platform.advance(3600);
    EXPECT_FALSE(platform.called("statusItem."));
    EXPECT_FALSE(platform.nextDeadline());
}

TEST_F(StatusMenu, SnoozeShowsTheTimeLeftTruncated) {
    launch();
    item().choose(choice(0));
    platform.advance(0.01);
    item().openMenu();
    EXPECT_EQ(delegate->snoozeMenuItem->title, "Snoozed \u2014 4m 59s left");
    item().closeMenu();

    platform.advance(300 - 0.01 - 60.2);  // 60.2 s left
    item().openMenu();
    EXPECT_EQ(delegate->snoozeMenuItem->title, "Snoozed \u2014 1m 0s left");
    item().closeMenu();
    platform.advance(0.7);  // 59.5 s left
    item().openMenu();
    EXPECT_EQ(delegate->snoozeMenuItem->title, "Snoozed \u2014 59s left");
    item().closeMenu();

    // Under a whole second left, the item stays as it was.
    const auto submenu = delegate->snoozeMenuItem->submenu;
    platform.advance(59.0);
    item().openMenu();
    EXPECT_EQ(delegate->snoozeMenuItem->title, "Snoozed \u2014 59s left");
    EXPECT_EQ(delegate->snoozeMenuItem->submenu, submenu);
}

TEST_F(StatusMenu, ASnoozeKeepsTheOverlayAwayUntilItEnds) {
    showOverlay();
    item().choose(choice(0));
    EXPECT_FALSE(active()) << "crossed out at once";
    EXPECT_FALSE(delegate->eventTap->isEnabled());
    EXPECT_TRUE(delegate->isEnabled());
    for (int i = 0; i < 10; ++i) {
        platform.movePointer({400.0 + i, 400});
        platform.advance(29.0);
        EXPECT_FALSE(overlayUp());
    }
    platform.advance(10.0);  // 300 s in: the snooze is over
    EXPECT_FALSE(delegate->isSnoozed());
    // The guard comes back with the next countdown, not at once.
    EXPECT_FALSE(overlayUp());
    restAt({300, 300});
}

// Each choice counts from now, longer or shorter than the one running: an earlier timer
// must not end a longer snooze, nor a later one outlast a shorter.
TEST_F(StatusMenu, AnotherSnoozeReplacesTheRunningOne) {
    launch();
    const auto choices = delegate->snoozeMenuItem->submenu;
    item().choose(choices->items()[0]);  // 5 minutes
    platform.advance(100);
    item().choose(choices->items()[4]);  // 1 hour from now
    EXPECT_EQ(platform.liveTimerCount(), 2) << "the countdown and one recheck";
    platform.advance(3600 - 0.5);
    EXPECT_TRUE(delegate->isSnoozed());
    EXPECT_FALSE(active());
    item().choose(choices->items()[1]);  // 10 minutes from now
    EXPECT_EQ(delegate->snoozeEndDate, platform.now() + 600);
    platform.advance(600);
    EXPECT_FALSE(delegate->isSnoozed());
    EXPECT_FALSE(delegate->snoozeTimer);
}

TEST_F(StatusMenu, TheMenuFollowsTheSnoozeWithoutBeingOpened) {
    launch();
    item().choose(choice(0));
    platform.advance(60.5);
    EXPECT_EQ(item().shownMenu()[1], "Snoozed \u2014 4m 0s left");
    platform.advance(240);
    EXPECT_FALSE(delegate->isSnoozed());
    EXPECT_EQ(item().shownMenu()[1], "Snooze");
    EXPECT_TRUE(active());
}

TEST_F(StatusMenu, ASnoozeEndsByItsEndDateThroughASuspend) {
    launch();
    item().choose(choice(3));  // 30 minutes
    platform.advance(10 * 60);
    // Timers stand still while the machine sleeps; waking ends the snooze that is over.
    platform.suspend(3 * 60 * 60);
    EXPECT_FALSE(delegate->isSnoozed());
    EXPECT_FALSE(delegate->snoozeTimer);
    EXPECT_TRUE(active());
    EXPECT_EQ(delegate->snoozeMenuItem->title, "Snooze");

    // A shorter sleep leaves the same end date, not a later one.
    item().choose(choice(3));
    platform.advance(10 * 60);
    platform.suspend(5 * 60);
    EXPECT_TRUE(delegate->isSnoozed());
    platform.advance(15 * 60 - 0.5);
    EXPECT_TRUE(delegate->isSnoozed());
    platform.advance(0.5);
    EXPECT_FALSE(delegate->isSnoozed());
}

TEST_F(StatusMenu, OpeningTheMenuEndsASnoozeThatIsOver) {
    launch();
    item().choose(choice(0));
    // The end date passed while the snooze timer did not run (a sleep nobody announced).
    delegate->snoozeEndDate = platform.now() - 1;
    item().openMenu();
    EXPECT_FALSE(delegate->isSnoozed());
    EXPECT_EQ(delegate->snoozeMenuItem->title, "Snooze");
    EXPECT_TRUE(active());
}

TEST_F(StatusMenu, CancellingOrTogglingEndsTheSnoozeEitherWay) {
    launch();
    item().choose(choice(0));
    item().openMenu();
    item().choose(delegate->snoozeMenuItem->submenu->items()[0]);
    EXPECT_FALSE(delegate->isSnoozed());
    EXPECT_TRUE(active());

    // Enabled and snoozed: the toggle leaves it disabled and unsnoozed.
    item().openMenu();
    item().choose(choice(2));
    EXPECT_EQ(delegate->snoozeEndDate, platform.now() + 15 * 60);
    item().choose(items()[0]);
    EXPECT_FALSE(delegate->isSnoozed());
    EXPECT_FALSE(delegate->isEnabled());
    // Disabled and snoozed: the toggle leaves it enabled and unsnoozed.
    item().openMenu();
    item().choose(choice(3));
    EXPECT_TRUE(delegate->isSnoozed());
    item().choose(items()[0]);
    EXPECT_FALSE(delegate->isSnoozed());
    EXPECT_TRUE(delegate->isEnabled());
    EXPECT_TRUE(active());
}

}  // namespace
}  // namespace dovetrel::testing
