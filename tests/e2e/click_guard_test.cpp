#include <gtest/gtest.h>

#include <csignal>

#include "e2e/x_session.h"

namespace dovetrel::e2e {
namespace {

// Where the pointer rests: over the client window, so the overlay comes up centred here.
constexpr int kRestX = 400;
constexpr int kRestY = 300;

class ClickGuardEndToEnd : public ::testing::Test {
  protected:
    void SetUp() override { movePointer(display(), kRestX, kRestY); }

    void TearDown() override {
        if (dovetrel) {
            EXPECT_EQ(dovetrel->unexpectedOutput(), "");
        }
    }

    _XDisplay* display() const { return session.display(); }

    void launch() { dovetrel.emplace(session, "[General]\nidleTimeout=1.5\n"); }

    // The overlay once it is fully up: the program shows the window first and switches the
    // guard on before it returns to its event loop.
    OverlayInfo waitForOverlay() {
        const auto overlay = waitForGuardedOverlay(display());
        EXPECT_TRUE(overlay);
        return overlay.value_or(OverlayInfo{});
    }

    bool waitForOverlayGone() {
        return waitFor([&] { return !findOverlay(display()); });
    }

    // Waits until the client has received exactly these clicks, each press with its
    // release, then forgets them.
    bool clientGets(const std::vector<int>& buttons) {
        const bool got = waitFor([&] {
            client.pump();
            return client.presses == buttons && client.releases == buttons;
        });
        client.presses.clear();
        client.releases.clear();
        return got;
    }

    XSession session;
    ClientWindow client{session, 100, 100, 600, 400};
    std::optional<Dovetrel> dovetrel;
};

TEST_F(ClickGuardEndToEnd, DropsPlainPressesOnTheOverlayAndLetsTheSameSpotPassOnceItHasGone) {
    launch();
    for (const int button : {1, 3, 2}) {
        SCOPED_TRACE(button);
        const OverlayInfo overlay = waitForOverlay();
        ASSERT_NEAR(overlay.x + overlay.width / 2, kRestX, 1);
        ASSERT_NEAR(overlay.y + overlay.height / 2, kRestY, 1);
        click(display(), button);
        ASSERT_TRUE(waitForOverlayGone());
        // The release went with the press: a lone release can fire a client's action.
        EXPECT_TRUE(clientGets({}));
        // Until the next overlay nothing is held.
        EXPECT_FALSE(buttonIsGrabbed(display(), button));
        click(display(), button);
        EXPECT_TRUE(clientGets({button}));
    }
}

TEST_F(ClickGuardEndToEnd, LetsModifiedWheelAndOffOverlayPressesThroughButNotCapsLockOnes) {
    holdKey(display(), "Shift_L", true);
    launch();
    waitForOverlay();
    click(display(), 1);
    EXPECT_TRUE(clientGets({1}));
    // Not grabbed, yet the press still takes the overlay down.
    EXPECT_TRUE(waitForOverlayGone());
    holdKey(display(), "Shift_L", false);

    tapKey(display(), "Caps_Lock");
    waitForOverlay();
    click(display(), 1);
    EXPECT_TRUE(waitForOverlayGone());
    EXPECT_TRUE(clientGets({}));
    tapKey(display(), "Caps_Lock");

    waitForOverlay();
    click(display(), 4);
    EXPECT_TRUE(clientGets({4}));

    const OverlayInfo overlay = waitForOverlay();
    movePointer(display(), overlay.x + overlay.width + 10, kRestY);
    click(display(), 1);
    EXPECT_TRUE(clientGets({1}));
    EXPECT_TRUE(waitForOverlayGone());
}

TEST_F(ClickGuardEndToEnd, LeavesNoGrabBehindWhenKilledWhileTheOverlayIsUp) {
    launch();
    waitForOverlay();
    ASSERT_TRUE(buttonIsGrabbed(display(), 1));
    dovetrel->process().signal(SIGKILL);
    ASSERT_TRUE(dovetrel->process().waitForExit().has_value());
    // The server closes the dead program's connections one at a time.
    EXPECT_TRUE(waitFor([&] { return !buttonIsGrabbed(display(), 1); }));
    click(display(), 1);
    EXPECT_TRUE(clientGets({1}));
}

}  // namespace
}  // namespace dovetrel::e2e
