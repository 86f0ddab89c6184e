#include "app/x11/input/idle_watch.h"

#include <xcb/sync.h>

#include <QSocketNotifier>
#include <cmath>
#include <string_view>
#include <utility>

namespace dovetrel::app {
namespace {

// The idle counters count milliseconds since the last input of their device: 2 and 3 are the
// master pointer and keyboard. IDLETIME, the server-wide one, is also reset by programs that
// keep the screen saver away (video players), so it serves only where the others are missing.
constexpr std::string_view kPointerCounter = "DEVICEIDLETIME 2";
constexpr std::string_view kKeyboardCounter = "DEVICEIDLETIME 3";
constexpr std::string_view kServerCounter = "IDLETIME";

// A rest asked for this long after the last input is counted from the input, not from the
// asking: at most this much late, and no wake-up for the first input after the asking.
constexpr int64_t kCountFromInputBelowMs = 100;

xcb_sync_int64_t toSync(int64_t value) {
    return {static_cast<int32_t>(value >> 32), static_cast<uint32_t>(value & 0xffffffff)};
}

int64_t fromSync(xcb_sync_int64_t value) {
    return (int64_t{value.hi} << 32) | value.lo;
}

}  // namespace

class X11IdleWatch::Wait : public Timer {
  public:
    Wait(X11IdleWatch* watch, std::optional<int64_t> restMs, std::function<void()> block)
        : watch(watch), restMs(restMs), block(std::move(block)) {}

    void invalidate() override {
        if (!valid) {
            return;
        }
        valid = false;
        if (watch != nullptr) {
            watch->disarm(*this);
        }
    }
    bool isValid() const override { return valid; }

    X11IdleWatch* watch;
    const std::optional<int64_t> restMs;  // nullopt: a wait for input
    const std::function<void()> block;
    bool valid = true;
    Alarms alarms;
};

X11IdleWatch::X11IdleWatch(Deliver deliver) : deliver_(std::move(deliver)) {}

std::unique_ptr<X11IdleWatch> X11IdleWatch::open(Deliver deliver) {
    std::unique_ptr<X11IdleWatch> watch(new X11IdleWatch(std::move(deliver)));
    return watch->connectToServer() ? std::move(watch) : nullptr;
}

X11IdleWatch::~X11IdleWatch() {
    for (const auto& wait : {rest_, input_}) {
        if (wait) {
            wait->watch = nullptr;
        }
    }
}

bool X11IdleWatch::connectToServer() {
    notifier_.reset();
    x_ = XConnection::toQtServer();
    xcb_connection_t* xcb = x_.get();
    if (xcb == nullptr || !x_.has(xcb_sync_id)) {
        return false;
    }
    const Reply<xcb_sync_initialize_reply_t> version(xcb_sync_initialize_reply(
        xcb, xcb_sync_initialize(xcb, XCB_SYNC_MAJOR_VERSION, XCB_SYNC_MINOR_VERSION), nullptr));
    const Reply<xcb_sync_list_system_counters_reply_t> list(
        xcb_sync_list_system_counters_reply(xcb, xcb_sync_list_system_counters(xcb), nullptr));
    if (!version || !list) {
        return false;
    }
    std::array<uint32_t, 3> found{};  // pointer, keyboard, server-wide
    for (auto counter = xcb_sync_list_system_counters_counters_iterator(list.get());
         counter.rem > 0; xcb_sync_systemcounter_next(&counter)) {
        // On the wire the name follows the 14 bytes of counter, resolution and length; xcb
        // 1.15's accessor skips the struct's padding as well and misses its first two letters.
        const std::string_view name(reinterpret_cast<const char*>(counter.data) + 14,
                                    size_t(counter.data->name_len));
        const std::string_view names[] = {kPointerCounter, kKeyboardCounter, kServerCounter};
        for (size_t i = 0; i < found.size(); ++i) {
            if (name == names[i]) {
                found[i] = counter.data->counter;
            }
        }
    }
    counters_ = found[0] != 0 && found[1] != 0 ? std::array{found[0], found[1]}
                                               : std::array{found[2], found[2]};
    if (counters_[0] == 0) {
        return false;
    }
    alarmEvent_ =
        uint8_t(xcb_get_extension_data(xcb, &xcb_sync_id)->first_event + XCB_SYNC_ALARM_NOTIFY);
    x_.markAs("Dovetrel idle watch");
    notifier_ = std::make_unique<QSocketNotifier>(x_.fileDescriptor(), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, this, [this] { drain(); });
    // Waits that outlived a lost connection count afresh from now on the new one.
    for (const auto& wait : {rest_, input_}) {
        if (wait && wait->valid) {
            arm(*wait);
        }
    }
    return true;
}

TimerRef X11IdleWatch::waitForRest(double seconds, std::function<void()> block) {
    if (rest_) {
        rest_->invalidate();
    }
    const auto milliseconds = int64_t(std::llround(std::max(seconds, 0.0) * 1000));
    rest_ = std::make_shared<Wait>(this, milliseconds, std::move(block));
    arm(*rest_);
    return rest_;
}

TimerRef X11IdleWatch::waitForInput(std::function<void()> block) {
    if (input_) {
        input_->invalidate();
    }
    input_ = std::make_shared<Wait>(this, std::nullopt, std::move(block));
    arm(*input_);
    return input_;
}

void X11IdleWatch::arm(Wait& wait) {
    wait.alarms = {};
    if (!x_) {
        return;
    }
    if (!wait.restMs) {
        // Input sets a counter to 0: it falls below a millisecond.
        for (size_t i = 0; i < counters_.size(); ++i) {
            wait.alarms.negative[i] = createAlarm(counters_[i], 1, true);
        }
        return;
    }
    // Counted from now: each counter must climb the rest above where it stands. Where it
    // stands high, the first input brings it down, and from then on the rest counts from 0.
    const auto now = counterValues();
    for (size_t i = 0; i < counters_.size(); ++i) {
        wait.alarms.threshold[i] = now[i] + *wait.restMs;
        wait.alarms.positive[i] = createAlarm(counters_[i], wait.alarms.threshold[i], false);
        if (now[i] >= kCountFromInputBelowMs) {
            wait.alarms.negative[i] = createAlarm(counters_[i], 1, true);
        }
    }
}

void X11IdleWatch::disarm(Wait& wait) {
    if (xcb_connection_t* xcb = x_.get()) {
        for (const auto& alarms : {wait.alarms.positive, wait.alarms.negative}) {
            for (const uint32_t alarm : alarms) {
                if (alarm != 0) {
                    x_.ignore(xcb_sync_destroy_alarm_checked(xcb, alarm));
                }
            }
        }
        xcb_flush(xcb);
    }
    wait.alarms = {};
}

void X11IdleWatch::drain() {
    while (const auto event = x_.pollEvent()) {
        if ((event->response_type & 0x7f) != alarmEvent_) {
            continue;
        }
        const auto& notify = reinterpret_cast<const xcb_sync_alarm_notify_event_t&>(*event);
        if (notify.state != XCB_SYNC_ALARMSTATE_DESTROYED) {
            alarmed(notify.alarm);
        }
    }
    if (!x_) {
        // A broken connection stays readable for ever; the waits are armed again, from then,
        // on a new one.
        notifier_.reset();
        reconnect_.start();
    }
}

void X11IdleWatch::alarmed(uint32_t alarm) {
    if (const auto input = input_; input && input->valid) {
        for (const uint32_t negative : input->alarms.negative) {
            if (negative == alarm) {
                finish(input);
                return;
            }
        }
    }
    const auto rest = rest_;
    if (!rest || !rest->valid) {
        return;
    }
    Alarms& alarms = rest->alarms;
    for (size_t i = 0; i < counters_.size(); ++i) {
        if (alarms.negative[i] == alarm) {
            // Input came: from now on this counter's rest counts from 0.
            alarms.threshold[i] = *rest->restMs;
            moveAlarm(alarms.positive[i], alarms.threshold[i]);
            if (xcb_connection_t* xcb = x_.get()) {
                x_.ignore(xcb_sync_destroy_alarm_checked(xcb, alarm));
            }
            alarms.negative[i] = 0;
            return;
        }
        if (alarms.positive[i] == alarm) {
            restCheck(*rest);
            return;
        }
    }
}

// A counter's alarm says its device rested long enough; the rest has come when the other's
// has too. An alarm that went off stays off: one whose device moved since is set again.
void X11IdleWatch::restCheck(Wait& wait) {
    const auto now = counterValues();
    bool rested = true;
    for (size_t i = 0; i < counters_.size(); ++i) {
        if (now[i] >= wait.alarms.threshold[i]) {
            continue;
        }
        rested = false;
        if (now[i] < wait.alarms.threshold[i] - *wait.restMs) {
            wait.alarms.threshold[i] = *wait.restMs;
        }
        moveAlarm(wait.alarms.positive[i], wait.alarms.threshold[i]);
    }
    if (rested) {
        finish(rest_);
    }
}

void X11IdleWatch::finish(const std::shared_ptr<Wait>& wait) {
    disarm(*wait);
    deliver_([wait] {
        if (wait->valid) {
            wait->valid = false;
            wait->block();
        }
    });
}

std::array<int64_t, 2> X11IdleWatch::counterValues() {
    xcb_connection_t* xcb = x_.get();
    std::array<int64_t, 2> values{};
    if (xcb == nullptr) {
        return values;
    }
    // Both asked before either answer is awaited: one round trip.
    const auto pointer = xcb_sync_query_counter(xcb, counters_[0]);
    const auto keyboard = xcb_sync_query_counter(xcb, counters_[1]);
    for (const auto& [index, cookie] : {std::pair{0, pointer}, std::pair{1, keyboard}}) {
        const Reply<xcb_sync_query_counter_reply_t> reply(
            xcb_sync_query_counter_reply(xcb, cookie, nullptr));
        values[size_t(index)] = reply ? fromSync(reply->counter_value) : 0;
    }
    return values;
}

uint32_t X11IdleWatch::createAlarm(uint32_t counter, int64_t value, bool negative) {
    xcb_connection_t* xcb = x_.get();
    if (xcb == nullptr) {
        return 0;
    }
    const xcb_sync_alarm_t alarm = xcb_generate_id(xcb);
    xcb_sync_create_alarm_value_list_t values{};
    values.counter = counter;
    values.valueType = XCB_SYNC_VALUETYPE_ABSOLUTE;
    values.value = toSync(value);
    values.testType =
        negative ? XCB_SYNC_TESTTYPE_NEGATIVE_TRANSITION : XCB_SYNC_TESTTYPE_POSITIVE_COMPARISON;
    values.delta = toSync(0);
    values.events = 1;
    xcb_sync_create_alarm_aux(xcb, alarm,
                              XCB_SYNC_CA_COUNTER | XCB_SYNC_CA_VALUE_TYPE | XCB_SYNC_CA_VALUE |
                                  XCB_SYNC_CA_TEST_TYPE | XCB_SYNC_CA_DELTA | XCB_SYNC_CA_EVENTS,
                              &values);
    xcb_flush(xcb);
    return alarm;
}

void X11IdleWatch::moveAlarm(uint32_t alarm, int64_t value) {
    // Changing an alarm sets it going again, and it goes off at once if its test holds.
    xcb_connection_t* xcb = x_.get();
    if (xcb == nullptr || alarm == 0) {
        return;
    }
    xcb_sync_change_alarm_value_list_t values{};
    values.value = toSync(value);
    xcb_sync_change_alarm_aux(xcb, alarm, XCB_SYNC_CA_VALUE, &values);
    xcb_flush(xcb);
}

}  // namespace dovetrel::app
