#include "app/x11/input/click_guard.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <chrono>
#include <string>
#include <thread>
#include <tuple>

#include "app/x11/xlib.h"
#include "support/x_session.h"

namespace dovetrel::app {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

// The overlay as the core publishes it: 100 x 100 points around (400, 300) of the 800 x 600
// screen, in tap coordinates.
constexpr int kCentreX = 400;
constexpr int kCentreY = 300;
constexpr int kOffOverlayX = 600;

// Xvfb and a QGuiApplication on it, shared by the tests here; each test has a guard of its
// own, switched on, and injects input on a connection of its own.
class X11ClickGuardTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        session = new support::XSession({.windowManager = false, .width = 800, .height = 600});
        qputenv("DISPLAY", session->displayName().c_str());
        qputenv("QT_QPA_PLATFORM", "xcb");
        support::ensureApplication([](int& argc, char** argv) { new QGuiApplication(argc, argv); });
    }

    static void TearDownTestSuite() {
        delete QCoreApplication::instance();
        delete session;
    }

    void SetUp() override {
        EventTapHandlers handlers;
        handlers.dismissOverlay = [this] {
            offMainThread |= std::this_thread::get_id() != mainThread;
            ++dismissals;
        };
        handlers.callback = [this](uint32_t type, const TapEvent& event) {
            offMainThread |= std::this_thread::get_id() != mainThread;
            ungrabbed.emplace_back(type, event.flags);
            return true;
        };
        guard = X11ClickGuard::create(std::move(handlers));
        ASSERT_TRUE(guard);
        guard->publish({true, true, {{350, 250}, {100, 100}}, 600.0});
        guard->setEnabled(true);
    }

    void TearDown() override {
        guard.reset();
        EXPECT_FALSE(offMainThread);
        XCloseDisplay(input);
    }

    static inline support::XSession* session = nullptr;
    Display* input = XOpenDisplay(session->displayName().c_str());
    const std::thread::id mainThread = std::this_thread::get_id();
    int dismissals = 0;
    std::vector<std::pair<uint32_t, uint64_t>> ungrabbed;  // type and flags, in order
    bool offMainThread = false;
    std::shared_ptr<X11ClickGuard> guard;
};

TEST_F(X11ClickGuardTest, AnswersEveryPressWhileTheMainThreadIsBlocked) {
    constexpr int kPresses = 20;
    std::vector<double> answerMilliseconds;
    std::thread presser([&] {
        for (int i = 0; i < kPresses; ++i) {
            support::movePointer(input, kCentreX, kCentreY);
            const auto start = Clock::now();
            XTestFakeButtonEvent(input, 1, True, CurrentTime);
            // Motion behind a held press waits in the server until the press is answered.
            support::movePointer(input, kCentreX + 5, kCentreY);
            while (support::pointerX(input) != kCentreX + 5 && Clock::now() - start < 1s) {
            }
            answerMilliseconds.push_back(
                std::chrono::duration<double, std::milli>(Clock::now() - start).count());
            XTestFakeButtonEvent(input, 1, False, CurrentTime);
            XSync(input, False);
            std::this_thread::sleep_for(100ms);
        }
    });
    // The main thread does nothing but wait for the presser, two seconds and more, so a
    // guard that needed it would leave each press unanswered for the presser's whole second.
    // How fast an answer comes is the benchmark's question, not this test's.
    presser.join();
    for (const double milliseconds : answerMilliseconds) {
        EXPECT_LT(milliseconds, 500.0);
    }
    EXPECT_TRUE(support::waitFor([&] { return dismissals == kPresses; }));
}

TEST_F(X11ClickGuardTest, HandsEachPressToTheDecisionExactlyOnce) {
    support::movePointer(input, kCentreX, kCentreY);
    support::click(input, 1);  // grabbed and dropped
    support::click(input, 4);  // the wheel: not a press
    // Which flags and type each modifier and button makes is the input model's; these prove
    // that an ungrabbed press reaches the decision with them.
    const std::vector<std::tuple<unsigned, const char*, uint32_t, uint64_t>> modifiedPresses{
        {1, "Shift_L", 1, kShiftFlag},
        {9, "Super_L", 25, kCommandFlag},
    };
    for (const auto& [button, modifier, type, flag] : modifiedPresses) {
        support::holdKey(input, modifier, true);
        support::click(input, button);
        const size_t before = ungrabbed.size();
        ASSERT_TRUE(support::waitFor([&] { return ungrabbed.size() > before; }));
        EXPECT_EQ(ungrabbed.back(), (std::pair{type, flag})) << modifier;
        support::holdKey(input, modifier, false);
    }
    support::movePointer(input, kOffOverlayX, kCentreY);
    support::click(input, 2);  // grabbed and passed; its dismissal queues behind everything above
    ASSERT_TRUE(support::waitFor([&] { return dismissals == 2; }));
    EXPECT_EQ(ungrabbed.size(), modifiedPresses.size());

    // While disabled, presses reach nothing here.
    guard->setEnabled(false);
    support::holdKey(input, "Shift_L", true);
    support::click(input, 1);
    support::holdKey(input, "Shift_L", false);
    support::click(input, 1);
    guard->setEnabled(true);
    support::click(input, 2);
    ASSERT_TRUE(support::waitFor([&] { return dismissals == 3; }));
    EXPECT_EQ(ungrabbed.size(), modifiedPresses.size());
}

}  // namespace
}  // namespace dovetrel::app
