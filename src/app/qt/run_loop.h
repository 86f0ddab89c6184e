// The core's run loop on Qt's event loop: timers, and blocks dispatched to the main thread.
// While one of our own menus is open, timers hold their firings until it closes, so that the
// menu's state does not change under the user (the core's default run-loop mode).
#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <set>
#include <vector>

#include "core/platform.h"

namespace dovetrel::app {

class QtTimer;

class RunLoop {
  public:
    RunLoop();
    ~RunLoop();
    RunLoop(const RunLoop&) = delete;
    RunLoop& operator=(const RunLoop&) = delete;

    TimerRef scheduleTimer(double interval, bool repeats, std::function<void()> block);
    // Runs `block` on the main thread after the current callback has returned.
    static void dispatchAsync(std::function<void()> block);
    static void dispatchAfter(double delay, std::function<void()> block);

    // A firing due while a menu is tracked runs when tracking ends.
    void setTrackingMenu(bool tracking);
    bool isTrackingMenu() const { return trackingMenu_; }

  private:
    friend class QtTimer;
    void timerFinished(QtTimer* timer);
    void timerWaiting(QtTimer* timer);

    bool trackingMenu_ = false;
    // Scheduled timers stay alive here until they are done, whoever else holds them.
    std::set<std::shared_ptr<QtTimer>> liveTimers_;
    std::vector<std::weak_ptr<QtTimer>> waitingTimers_;
};

// A delay in whole milliseconds as QTimer takes it (an int): rounded, and held within
// 0 .. INT_MAX (about 24.8 days) rather than narrowed, which would wrap a long delay to a
// short one. NaN counts as no delay.
std::chrono::milliseconds timerMilliseconds(double seconds);

}  // namespace dovetrel::app
