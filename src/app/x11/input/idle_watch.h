// Stillness of the pointer and keyboard as the X server counts it: the SYNC extension's idle
// counters of the master pointer and keyboard, and alarms on them, on a connection of our own.
// Waiting for a rest then costs nothing while input flows: the server wakes us once the rest
// has come, and once at the first input when that is asked for.
#pragma once

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/qt/reconnect_timer.h"
#include "app/x11/connection.h"
#include "core/platform.h"

class QSocketNotifier;

namespace dovetrel::app {

class X11IdleWatch : public QObject {
  public:
    // Runs a block in the run loop's default mode, so that it waits while a menu of ours is
    // open, as the program's timers do.
    using Deliver = std::function<void(std::function<void()>)>;

    // nullptr when the server keeps no idle counter (it has no SYNC extension).
    static std::unique_ptr<X11IdleWatch> open(Deliver deliver);
    ~X11IdleWatch() override;

    // Runs `block` once the pointer and keyboard have been still for `seconds`, counted from
    // now or from the last input after it. A later wait of the same kind replaces this one,
    // and invalidating the returned timer ends it.
    TimerRef waitForRest(double seconds, std::function<void()> block);
    // Runs `block` at the first input after now; the same rules.
    TimerRef waitForInput(std::function<void()> block);

  private:
    class Wait;
    struct Alarms {
        std::array<uint32_t, 2> positive{};  // per counter: the rest reached
        std::array<uint32_t, 2> negative{};  // per counter: input came
        std::array<int64_t, 2> threshold{};  // milliseconds of stillness that count as a rest
    };

    explicit X11IdleWatch(Deliver deliver);
    bool connectToServer();
    void arm(Wait& wait);
    void disarm(Wait& wait);
    void drain();
    void alarmed(uint32_t alarm);
    void restCheck(Wait& wait);
    void finish(const std::shared_ptr<Wait>& wait);
    std::array<int64_t, 2> counterValues();
    uint32_t createAlarm(uint32_t counter, int64_t value, bool negative);
    void moveAlarm(uint32_t alarm, int64_t value);

    Deliver deliver_;
    XConnection x_;
    uint8_t alarmEvent_ = 0;
    // The master pointer's and keyboard's counters; one counter twice on servers that keep
    // only the server-wide one.
    std::array<uint32_t, 2> counters_{};
    std::unique_ptr<QSocketNotifier> notifier_;
    std::shared_ptr<Wait> rest_;
    std::shared_ptr<Wait> input_;
    ReconnectTimer reconnect_{[this] { return connectToServer(); }};
};

}  // namespace dovetrel::app
