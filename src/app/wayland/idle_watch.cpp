#include "app/wayland/idle_watch.h"

#include <wayland-client.h>

#include <algorithm>
#include <cmath>

#include "ext-idle-notify-v1-client-protocol.h"
#include "idle-client-protocol.h"

namespace dovetrel::app {

// One idle notification of the compositor, as a timer of the core.
class WaylandIdleWatch::Notification : public Timer,
                                       public std::enable_shared_from_this<Notification> {
  public:
    Notification(WaylandConnection& connection, Deliver deliver, Kind kind,
                 std::function<void()> block)
        : connection_(connection),
          deliver_(std::move(deliver)),
          kind_(kind),
          block_(std::move(block)) {}
    ~Notification() override { release(); }

    void start(uint32_t milliseconds);
    void invalidate() override {
        cancelled_ = true;
        release();
    }
    // Until invalidated, or for a one-shot wait until it has run.
    bool isValid() const override { return !cancelled_ && !ran_; }

    void idled();
    void resumed();

  private:
    void fire();
    // Ends the compositor's notification.
    void release();

    WaylandConnection& connection_;
    Deliver deliver_;
    Kind kind_;
    std::function<void()> block_;
    ext_idle_notification_v1* ext_ = nullptr;
    org_kde_kwin_idle_timeout* kde_ = nullptr;
    bool idle_ = false;
    bool cancelled_ = false;
    bool ran_ = false;
};

namespace {

using Notification = WaylandIdleWatch::Notification;

Notification* notification(void* data) {
    return static_cast<Notification*>(data);
}

const ext_idle_notification_v1_listener kExtListener = {
    .idled = [](void* data, ext_idle_notification_v1*) { notification(data)->idled(); },
    .resumed = [](void* data, ext_idle_notification_v1*) { notification(data)->resumed(); },
};

const org_kde_kwin_idle_timeout_listener kKdeListener = {
    .idle = [](void* data, org_kde_kwin_idle_timeout*) { notification(data)->idled(); },
    .resumed = [](void* data, org_kde_kwin_idle_timeout*) { notification(data)->resumed(); },
};

}  // namespace

void Notification::start(uint32_t milliseconds) {
    const WaylandGlobals& globals = connection_.globals();
    if (globals.idleNotifier != nullptr) {
        ext_ = ext_idle_notifier_v1_get_idle_notification(globals.idleNotifier, milliseconds,
                                                          globals.seat);
        ext_idle_notification_v1_add_listener(ext_, &kExtListener, this);
    } else {
        kde_ = org_kde_kwin_idle_get_idle_timeout(globals.kdeIdle, globals.seat, milliseconds);
        org_kde_kwin_idle_timeout_add_listener(kde_, &kKdeListener, this);
    }
    connection_.flush();
}

void Notification::release() {
    if (ext_ != nullptr) {
        ext_idle_notification_v1_destroy(ext_);
        ext_ = nullptr;
    }
    if (kde_ != nullptr) {
        org_kde_kwin_idle_timeout_release(kde_);
        kde_ = nullptr;
    }
    connection_.flush();
}

void Notification::idled() {
    idle_ = true;
    if (kind_ == Kind::rest) {
        fire();
    }
}

void Notification::resumed() {
    const bool wasIdle = std::exchange(idle_, false);
    // The nudge after a surface maps or goes is input too, but nobody's.
    if (kind_ != Kind::rest && wasIdle && !connection_.isNudging()) {
        fire();
    }
}

void Notification::fire() {
    if (kind_ != Kind::everyInput) {
        release();
    }
    // A wait invalidated before the block's turn comes runs nothing.
    deliver_([weak = weak_from_this()] {
        const auto self = weak.lock();
        if (!self || !self->isValid() || !self->block_) {
            return;
        }
        if (self->kind_ == Kind::everyInput) {
            self->block_();
        } else {
            self->ran_ = true;
            std::exchange(self->block_, nullptr)();
        }
    });
}

std::unique_ptr<WaylandIdleWatch> WaylandIdleWatch::open(WaylandConnection& connection,
                                                         Deliver deliver) {
    const WaylandGlobals& globals = connection.globals();
    if (globals.idleNotifier == nullptr && globals.kdeIdle == nullptr) {
        return nullptr;
    }
    return std::unique_ptr<WaylandIdleWatch>(new WaylandIdleWatch(connection, std::move(deliver)));
}

WaylandIdleWatch::WaylandIdleWatch(WaylandConnection& connection, Deliver deliver)
    : connection_(connection), deliver_(std::move(deliver)) {}

WaylandIdleWatch::~WaylandIdleWatch() {
    for (const auto& wait : {rest_, input_}) {
        if (wait) {
            wait->invalidate();
        }
    }
}

std::shared_ptr<WaylandIdleWatch::Notification> WaylandIdleWatch::watch(
    uint32_t milliseconds, Kind kind, std::function<void()> block) {
    auto wait = std::make_shared<Notification>(connection_, deliver_, kind, std::move(block));
    wait->start(milliseconds);
    return wait;
}

TimerRef WaylandIdleWatch::waitForRest(double seconds, std::function<void()> block) {
    if (rest_) {
        rest_->invalidate();
    }
    const double milliseconds = std::clamp(std::ceil(seconds * 1000), 1.0, double(UINT32_MAX));
    rest_ = watch(uint32_t(milliseconds), Kind::rest, std::move(block));
    return rest_;
}

TimerRef WaylandIdleWatch::waitForInput(std::function<void()> block) {
    if (input_) {
        input_->invalidate();
    }
    input_ = watch(kInputRest, Kind::input, std::move(block));
    return input_;
}

TimerRef WaylandIdleWatch::watchInput(std::function<void()> each) {
    return watch(kInputRest, Kind::everyInput, std::move(each));
}

}  // namespace dovetrel::app
