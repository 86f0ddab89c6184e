// The program in a Wayland session, on a headless sway (or the compositor the harness is told).
#include <X11/keysym.h>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <QCoreApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/wayland_session.h"

namespace dovetrel::e2e {
using namespace support;
namespace {

const std::string kQuickSettings = "[General]\nidleTimeout=1\nzoneSize=80\n";

// The square once it is on the screen: a painted area larger than the pointer's image. Without
// screenshots (KWin), once the window below has lost the pointer to it.
std::optional<QRect> waitForSquare(WaylandSession& session) {
    std::optional<QRect> square;
    if (!session.takesScreenshots()) {
        if (waitFor([&] { return !session.windowHasPointer(); }, 10s)) {
            square = QRect();
        }
        // The pointer probe takes the pointer first, for a few milliseconds. The rows act soon
        // after: a key as the square appears must take it down too.
        std::this_thread::sleep_for(20ms);
        return square;
    }
    waitFor(
        [&] {
            const QRect painted = paintedArea(session.screenshot());
            if (painted.width() > 40 && painted.height() > 40) {
                square = painted;
            }
            return square.has_value();
        },
        10s);
    return square;
}

bool squareGoes(WaylandSession& session, std::chrono::milliseconds timeout = 3s) {
    if (!session.takesScreenshots()) {
        return waitFor([&] { return session.windowHasPointer(); }, timeout);
    }
    return waitFor([&] { return paintedArea(session.screenshot()).width() <= 40; }, timeout);
}

bool has(const std::vector<std::string>& events, const std::string& event) {
    return std::find(events.begin(), events.end(), event) != events.end();
}

// A compositor of the test's own for each test; a machine that cannot start one skips them.
class WaylandSquare : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        ensureApplication([](int& argc, char** argv) { new QCoreApplication(argc, argv); });
    }

    void SetUp() override {
        if (!session.failure().empty()) {
            GTEST_SKIP() << session.failure();
        }
    }

    WaylandSession session;
};

// What takes the square down, and whether the window below gets the pointer's presses.
TEST_F(WaylandSquare, PressesOnItAreSwallowedAndEverythingElseReachesTheWindow) {
    session.openWindow();
    session.movePointer(400, 300);
    Dovetrel dovetrel(session.environment(), kQuickSettings);
    const struct {
        const char* what;
        std::function<void()> act;
        bool staysUp;
        bool reachesWindow;
        // Only where the compositor tells the modifiers: held from before the square comes.
        bool shiftBeforeRest = false;
    } cases[] = {
        {"left click", [&] { session.click(BTN_LEFT); }, false, false},
        {"motion inside", [&] { session.movePointer(420, 320); }, true, false},
        {"right click", [&] { session.click(BTN_RIGHT); }, false, false},
        // The scroll itself goes to the square: wlroots gives it to the surface under the pointer.
        {"scroll", [&] { session.scroll(1); }, false, false},
        {"a key", [&] { session.type("a"); }, false, false},
        {"motion out, then a click",
         [&] {
             session.movePointer(600, 300);
             session.click(BTN_LEFT);
         },
         false, true},
        {"Shift held, then a click",
         [&] { session.withShiftHeld([&] { session.click(BTN_LEFT); }); }, false, true},
        {"Shift held since before the rest, then a click",
         [&] {
             session.click(BTN_LEFT);
             session.holdShift(false);
         },
         false, true, true},
        // sway 1.7 loses the first click after a surface under a still pointer goes.
        {"a key, then a click without motion",
         [&] {
             session.type("a");
             squareGoes(session);
             session.click(BTN_LEFT);
         },
         false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.shiftBeforeRest) {
            if (!session.holdShift(true)) {
                continue;
            }
            // The square shows without taking the pointer: nothing tells it is up but time.
            session.movePointer(400, 300);
            std::this_thread::sleep_for(2s);
        } else {
            session.movePointer(400, 300);
            ASSERT_TRUE(waitForSquare(session)) << dovetrel.unexpectedOutput();
        }
        session.received();
        c.act();
        if (c.staysUp) {
            EXPECT_FALSE(squareGoes(session, 700ms));
        } else {
            EXPECT_TRUE(squareGoes(session));
        }
        const auto events = session.received();
        EXPECT_EQ(has(events, "press 272") || has(events, "press 273"), c.reachesWindow);
        EXPECT_EQ(has(events, "release 272") || has(events, "release 273"), c.reachesWindow);
    }
    // Nothing worth a word, but that this bare session has no panel (GNOME's top bar shows
    // the extension's button).
    const std::string said = dovetrel.unexpectedOutput();
    if (session.isGnome()) {
        EXPECT_EQ(said, "");
        // The Shell names the extension in whatever it has to say about it: errors, warnings.
        EXPECT_EQ(session.compositorOutput().find("dovetrel@dovetrel.app"), std::string::npos)
            << session.compositorOutput();
    } else {
        EXPECT_EQ(said.substr(0, said.find(" (no StatusNotifierItem host)")),
                  "dovetrel: no panel shows tray icons here")
            << said;
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    }
}

TEST_F(WaylandSquare, RestShowsTheSquareUnderThePointer) {
    if (!session.takesScreenshots()) {
        GTEST_SKIP() << "the compositor takes no screenshots";
    }
    session.movePointer(400, 300);
    Dovetrel dovetrel(session.environment(), kQuickSettings);

    const auto square = waitForSquare(session);
    ASSERT_TRUE(square) << dovetrel.unexpectedOutput();
    // The drawing lies within its 80-point frame, centred on the pointer.
    EXPECT_TRUE(QRect(360, 260, 80, 80).contains(*square)) << square->x() << "," << square->y();
    EXPECT_GE(square->width(), 70);
    EXPECT_NEAR(square->center().x(), 400, 2);
    EXPECT_NEAR(square->center().y(), 300, 2);
}

// Clicks keep the pointer from resting: no square, no probe, and every one of them arrives.
TEST_F(WaylandSquare, AThousandClicksDuringTheCountdownAllArrive) {
    session.openWindow();
    session.movePointer(400, 300);
    Dovetrel dovetrel(session.environment(), kQuickSettings);
    ASSERT_TRUE(waitForSquare(session)) << dovetrel.unexpectedOutput();
    session.movePointer(600, 300);
    ASSERT_TRUE(squareGoes(session));
    session.received();
    // Three times the countdown's length in all.
    int presses = 0;
    for (int click = 0; click < 1000; ++click) {
        std::this_thread::sleep_for(3ms);
        session.click(BTN_LEFT);
        const auto events = session.received();
        presses += int(std::count(events.begin(), events.end(), "press 272"));
    }
    EXPECT_EQ(presses, 1000) << dovetrel.unexpectedOutput();
}

// The compositor tells which window is full screen (wlr foreign toplevels), or the extension
// sees it itself (GNOME Shell): no square over it, and its clicks are its own.
TEST_F(WaylandSquare, AFullScreenWindowKeepsTheSquareAway) {
    if (!session.takesScreenshots()) {
        GTEST_SKIP() << "KWin offers no list of windows with their full screen";
    }
    session.openWindow(true);
    session.movePointer(400, 300);
    Dovetrel dovetrel(session.environment(), kQuickSettings);
    EXPECT_FALSE(waitFor([&] { return paintedArea(session.screenshot()).width() > 40; }, 3s));
    session.received();
    session.click(BTN_LEFT);
    std::vector<std::string> events;
    waitFor([&] {
        const auto more = session.received();
        events.insert(events.end(), more.begin(), more.end());
        return has(events, "release 272");
    });
    EXPECT_EQ(events, (std::vector<std::string>{"press 272", "release 272"}));
}

// No X selection in a Wayland session: the session bus tells whether Dovetrel runs.
TEST_F(WaylandSquare, ASecondStartOpensTheSettingsOfTheFirstAndEnds) {
    if (!session.takesScreenshots()) {
        GTEST_SKIP() << "the compositor takes no screenshots";
    }
    session.movePointer(400, 300);
    Dovetrel first(session.environment(), kQuickSettings);
    ASSERT_TRUE(waitForSquare(session)) << first.unexpectedOutput();

    Dovetrel second(session.environment(), kQuickSettings);
    EXPECT_EQ(second.process().waitForExit(10s), 0);
    EXPECT_EQ(second.unexpectedOutput(),
              "dovetrel: already running in this session; opened its Settings window\n");
    EXPECT_TRUE(first.process().isRunning());
    // The Settings window, which sway floats in the middle, is far larger than the square.
    EXPECT_TRUE(waitFor([&] { return paintedArea(session.screenshot()).width() > 200; }));
}

// The top bar's button, opened by a click, each item chosen with the keyboard as a user would.
TEST_F(WaylandSquare, TheTopBarMenuDoesWhatItsItemsSay) {
    if (!session.isGnome()) {
        GTEST_SKIP() << "only GNOME Shell has the extension's button";
    }
    Dovetrel dovetrel(session.environment(), "[General]\nidleTimeout=600\n");
    const std::string button = "Main.panel.statusArea['dovetrel@dovetrel.app']";
    // Where the button's middle is, once the top bar has placed it (at x 0 until then).
    QJsonArray middle;
    ASSERT_TRUE(waitFor(
        [&] {
            const std::string found = session.eval(
                "(b => { const [x, y] = b?.get_transformed_position() ?? [0, 0]; return x > 0 ? "
                "[x + b.width / 2, y + b.height / 2] : null; })(" +
                button + ")");
            middle = QJsonDocument::fromJson(QByteArray::fromStdString(found)).array();
            return !middle.isEmpty();
        },
        10s))
        << dovetrel.unexpectedOutput();
    const struct {
        const char* item;
        std::vector<uint32_t> keys;
        // Seen in the Shell (the button's icon, the windows' titles) and in the settings file.
        std::string shown;
        std::string saved;
    } cases[] = {
        {"Enabled, off", {XK_Down, XK_Return}, "Dovetrel-inactive-symbolic", "isEnabled=false"},
        {"Enabled, on", {XK_Down, XK_Return}, "Dovetrel-active-symbolic", "isEnabled=true"},
        // A snooze is not saved: it ends with the program.
        {"Snooze, 5 minutes",
         {XK_Down, XK_Down, XK_Right, XK_Return},
         "Dovetrel-inactive-symbolic",
         "isEnabled=true"},
        {"Settings\u2026", {XK_Down, XK_Down, XK_Down, XK_Return}, "Dovetrel Settings", ""},
        {"Quit Dovetrel", {XK_Down, XK_Down, XK_Down, XK_Down, XK_Return}, "", ""},
    };
    session.movePointer(int(middle[0].toDouble()), int(middle[1].toDouble()));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.item);
        session.click(BTN_LEFT);
        ASSERT_TRUE(waitFor([&] { return session.eval(button + ".menu.isOpen") == "true"; }));
        for (const uint32_t key : c.keys) {
            session.tapKey(key);
        }
        std::string shown;
        EXPECT_TRUE(waitFor([&] {
            shown = session.eval("[" + button +
                                 ".first_child.gicon.get_names(), global.get_window_actors().map("
                                 "a => a.meta_window.title)]");
            return shown.find(c.shown) != std::string::npos &&
                   readText(dovetrel.settingsPath()).find(c.saved) != std::string::npos;
        })) << shown;
    }
    EXPECT_EQ(dovetrel.process().waitForExit(10s), 0);
    EXPECT_EQ(dovetrel.unexpectedOutput(), "");
}

}  // namespace
}  // namespace dovetrel::e2e
