#include "app/qt/run_loop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>
#include <cmath>
#include <limits>
#include <utility>

namespace dovetrel::app {

std::chrono::milliseconds timerMilliseconds(double seconds) {
    constexpr double kLongest = std::numeric_limits<int>::max();
    const double milliseconds = seconds * 1000.0;
    if (!(milliseconds > 0)) {
        return std::chrono::milliseconds(0);
    }
    if (milliseconds >= kLongest) {
        return std::chrono::milliseconds(std::numeric_limits<int>::max());
    }
    return std::chrono::milliseconds(std::llround(milliseconds));
}

// A run-loop timer on a QTimer. It fires in the default mode only: while a menu of ours is
// open, a due firing waits and runs when the menu closes.
class QtTimer : public Timer, public std::enable_shared_from_this<QtTimer> {
  public:
    QtTimer(RunLoop& loop, double interval, bool repeats, std::function<void()> block)
        : loop_(loop), repeats_(repeats), block_(std::move(block)) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(!repeats);
        timer_.setInterval(timerMilliseconds(interval));
        QObject::connect(&timer_, &QTimer::timeout, [this] { timeout(); });
    }

    void start() { timer_.start(); }

    void invalidate() override {
        if (!valid_) {
            return;
        }
        valid_ = false;
        waiting_ = false;
        timer_.stop();
        loop_.timerFinished(this);
    }

    bool isValid() const override { return valid_; }

    // Runs a firing that waited for a menu to close.
    void fireWaiting() {
        if (valid_ && waiting_) {
            waiting_ = false;
            fire();
        }
    }

  private:
    void timeout() {
        if (loop_.isTrackingMenu()) {
            if (!waiting_) {
                waiting_ = true;
                loop_.timerWaiting(this);
            }
            return;
        }
        fire();
    }

    void fire() {
        // Keep this timer alive through its block, which may drop the last reference.
        const auto self = shared_from_this();
        if (!repeats_) {
            valid_ = false;
            loop_.timerFinished(this);
        }
        const auto block = block_;
        block();
    }

    RunLoop& loop_;
    QTimer timer_;
    bool repeats_;
    bool valid_ = true;
    bool waiting_ = false;
    std::function<void()> block_;
};

RunLoop::RunLoop() = default;
RunLoop::~RunLoop() = default;

TimerRef RunLoop::scheduleTimer(double interval, bool repeats, std::function<void()> block) {
    auto timer = std::make_shared<QtTimer>(*this, interval, repeats, std::move(block));
    liveTimers_.insert(timer);
    timer->start();
    return timer;
}

void RunLoop::dispatchAsync(std::function<void()> block) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block), Qt::QueuedConnection);
}

void RunLoop::dispatchAfter(double delay, std::function<void()> block) {
    QTimer::singleShot(timerMilliseconds(delay), QCoreApplication::instance(), std::move(block));
}

void RunLoop::setTrackingMenu(bool tracking) {
    trackingMenu_ = tracking;
    if (tracking) {
        return;
    }
    auto waiting = std::move(waitingTimers_);
    waitingTimers_.clear();
    for (const auto& weak : waiting) {
        if (const auto timer = weak.lock()) {
            timer->fireWaiting();
        }
    }
}

void RunLoop::timerFinished(QtTimer* timer) {
    std::erase_if(liveTimers_, [timer](const auto& live) { return live.get() == timer; });
}

void RunLoop::timerWaiting(QtTimer* timer) {
    waitingTimers_.push_back(timer->weak_from_this());
}

}  // namespace dovetrel::app
