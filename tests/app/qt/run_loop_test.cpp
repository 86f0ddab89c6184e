#include "app/qt/run_loop.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cmath>
#include <limits>

#include "support/x_session.h"

namespace dovetrel::app {
namespace {

// Runs Qt's event loop for a while, long enough for a due timer to come round.
void runEventLoop() {
    QElapsedTimer running;
    running.start();
    while (running.elapsed() < 30) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

TEST(RunLoop, TimersHoldTheirFiringsWhileOurMenuIsOpenAndFireOnceWhenItCloses) {
    support::ensureApplication([](int& argc, char** argv) { new QCoreApplication(argc, argv); });
    RunLoop loop;
    int once = 0;
    int repeating = 0;
    int dropped = 0;
    loop.setTrackingMenu(true);
    const auto single = loop.scheduleTimer(0, false, [&] { ++once; });
    auto repeated = loop.scheduleTimer(0.001, true, [&] { ++repeating; });
    const auto invalidated = loop.scheduleTimer(0, false, [&] { ++dropped; });
    runEventLoop();
    invalidated->invalidate();
    EXPECT_EQ(once + repeating + dropped, 0);
    loop.setTrackingMenu(false);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(repeating, 1);
    EXPECT_FALSE(single->isValid());
    runEventLoop();
    EXPECT_GT(repeating, 1);
    EXPECT_EQ(once, 1);
    EXPECT_EQ(dropped, 0);

    // An invalidated timer fires no more, even while its holder keeps it, and the loop lets
    // go of it.
    repeated->invalidate();
    EXPECT_FALSE(repeated->isValid());
    const int fired = repeating;
    int later = 0;
    RunLoop::dispatchAfter(0.001, [&] { ++later; });
    runEventLoop();
    EXPECT_EQ(repeating, fired);
    EXPECT_EQ(later, 1);
    const std::weak_ptr<Timer> released = repeated;
    repeated.reset();
    EXPECT_TRUE(released.expired());
}

TEST(RunLoop, DelaysBecomeWholeMillisecondsThatNeverWrap) {
    using std::chrono::milliseconds;
    EXPECT_EQ(timerMilliseconds(10.0), milliseconds(10000));
    EXPECT_EQ(timerMilliseconds(0.0015), milliseconds(2));
    EXPECT_EQ(timerMilliseconds(-1), milliseconds(0));
    EXPECT_EQ(timerMilliseconds(std::nan("")), milliseconds(0));
    EXPECT_EQ(timerMilliseconds(30 * 24 * 3600.0), milliseconds(std::numeric_limits<int>::max()));
}

}  // namespace
}  // namespace dovetrel::app
