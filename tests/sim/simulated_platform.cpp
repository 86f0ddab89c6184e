#include "sim/simulated_platform.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace dovetrel::sim {

struct SimulatedPlatform::SimTimer : Timer {
    SimulatedPlatform* platform = nullptr;
    double deadline = 0;
    double interval = 0;
    bool repeats = false;
    bool ofCore = false;  // recorded, counted, and held while a menu is tracked
    bool restartsOnInput = false;
    bool firesOnInput = false;
    bool valid = true;
    uint64_t sequence = 0;
    std::function<void()> block;

    void invalidate() override {
        if (valid && ofCore) {
            platform->record("timer.invalidate");
        }
        valid = false;
    }
    bool isValid() const override { return valid; }
};

// --- preferences

std::optional<std::string> SimPreferenceStore::value(std::string_view key) const {
    const auto found = values_.find(key);
    return found == values_.end() ? std::nullopt : std::optional(found->second);
}

void SimPreferenceStore::setValue(std::string_view key, const std::string& text) {
    values_[std::string(key)] = text;
    ++writes_;
    notify();
}

void SimPreferenceStore::editByHand(std::string_view key, std::optional<std::string> text) {
    if (text) {
        values_[std::string(key)] = *text;
    } else if (const auto found = values_.find(key); found != values_.end()) {
        values_.erase(found);
    }
    notify();
}

void SimPreferenceStore::notify() {
    for (const auto& observer : observers_) {
        observer();
    }
}

// --- overlay, status item and settings window

SimOverlaySurface::~SimOverlaySurface() {
    platform_.forgetOverlay(this);
}

void SimOverlaySurface::animateAlpha(double target, double seconds, Easing /*easing*/,
                                     std::function<void()> completion) {
    if (animation_) {
        animation_->invalidate();
    }
    fadeTarget_ = target;
    animation_ = platform_.scheduleInternal(seconds, [this, target, completion] {
        alpha_ = target;
        fadeTarget_.reset();
        animation_ = nullptr;
        if (completion) {
            completion();
        }
    });
}

void SimStatusItem::setImage(const MenuBarIcon& icon) {
    image_ = icon;
    platform_.record("statusItem.setImage");
}

void SimStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    menu_ = std::move(menu);
    menuChanged();
}

void SimStatusItem::menuChanged() {
    platform_.record("statusItem.menuChanged");
    shownMenu_.clear();
    for (const auto& item : menu_ ? menu_->items() : std::vector<std::shared_ptr<MenuItem>>{}) {
        const std::string box = !item->hasState ? "" : item->isOn ? "[x] " : "[ ] ";
        shownMenu_.push_back(item->isSeparator ? "---" : box + item->title);
    }
}

void SimStatusItem::openMenu() {
    platform_.beginMenuTracking();
    if (handlers_.menuWillOpen) {
        handlers_.menuWillOpen();
    }
    platform_.runMainQueue();
}

void SimStatusItem::closeMenu() {
    platform_.endMenuTracking();
}

void SimStatusItem::choose(const std::shared_ptr<MenuItem>& item) {
    closeMenu();
    if (handlers_.performAction && item && !item->action.empty()) {
        handlers_.performAction(item);
    }
    platform_.runMainQueue();
}

void SimSettingsWindow::makeKeyAndOrderFront() {
    platform_.record("settingsWindow.makeKeyAndOrderFront");
}

void SimSettingsWindow::close() {
    if (windowWillClose_) {
        windowWillClose_(this);
    }
    platform_.runMainQueue();
}

// --- the clock and run loop

std::shared_ptr<SimulatedPlatform::SimTimer> SimulatedPlatform::makeTimer(
    double interval, bool repeats, bool ofCore, std::function<void()> block) {
    auto timer = std::make_shared<SimTimer>();
    timer->platform = this;
    timer->deadline = now_ + interval;
    timer->interval = interval;
    timer->repeats = repeats;
    timer->ofCore = ofCore;
    timer->sequence = nextSequence_++;
    timer->block = std::move(block);
    timers_.push_back(timer);
    return timer;
}

TimerRef SimulatedPlatform::scheduleTimer(double interval, bool repeats,
                                          std::function<void()> block) {
    record("scheduleTimer");
    return makeTimer(interval, repeats, true, std::move(block));
}

TimerRef SimulatedPlatform::scheduleIdleTimer(double interval, std::function<void()> block) {
    record("scheduleIdleTimer");
    auto timer = makeTimer(interval, false, true, std::move(block));
    timer->restartsOnInput = true;
    return timer;
}

TimerRef SimulatedPlatform::scheduleInputTimer(std::function<void()> block) {
    record("scheduleInputTimer");
    auto timer = makeTimer(std::numeric_limits<double>::infinity(), false, true, std::move(block));
    timer->firesOnInput = true;
    return timer;
}

void SimulatedPlatform::input() {
    for (const auto& timer : std::vector(timers_)) {
        if (timer->valid && timer->restartsOnInput) {
            timer->deadline = now_ + timer->interval;
        } else if (timer->valid && timer->firesOnInput) {
            // Due now; held like any other timer of the core while a menu is tracked.
            timer->deadline = now_;
            timer->firesOnInput = false;
            if (!trackingMenu_) {
                fire(timer);
            }
        }
    }
    prune();
}

TimerRef SimulatedPlatform::scheduleInternal(double delay, std::function<void()> block) {
    return makeTimer(delay, false, false, std::move(block));
}

void SimulatedPlatform::dispatchAsync(std::function<void()> block) {
    record("dispatchAsync");
    mainQueue_.push_back(std::move(block));
}

std::shared_ptr<SimulatedPlatform::SimTimer> SimulatedPlatform::nextDue(double limit) const {
    std::shared_ptr<SimTimer> best;
    for (const auto& timer : timers_) {
        if (!timer->valid || timer->deadline > limit || (trackingMenu_ && timer->ofCore)) {
            continue;
        }
        if (!best || timer->deadline < best->deadline ||
            (timer->deadline == best->deadline && timer->sequence < best->sequence)) {
            best = timer;
        }
    }
    return best;
}

void SimulatedPlatform::fire(const std::shared_ptr<SimTimer>& timer) {
    if (timer->repeats && timer->interval > 0) {
        // Missed firings collapse into one, as run-loop timers do.
        const double periods = std::floor((now_ - timer->deadline) / timer->interval) + 1;
        timer->deadline += periods * timer->interval;
    } else {
        timer->valid = false;
    }
    // Copy: the block may invalidate or replace its own timer.
    const auto block = timer->block;
    block();
    runMainQueue();
}

void SimulatedPlatform::advance(double seconds) {
    const double target = now_ + seconds;
    while (const auto timer = nextDue(target)) {
        now_ = std::max(now_, timer->deadline);
        fire(timer);
        prune();
    }
    now_ = target;
    runMainQueue();
}

void SimulatedPlatform::suspend(double seconds) {
    now_ += seconds;
    for (const auto& timer : timers_) {
        timer->deadline += seconds;
    }
    post(WorkspaceNotification::didWake);
}

std::optional<double> SimulatedPlatform::nextDeadline() const {
    const auto timer = nextDue(std::numeric_limits<double>::infinity());
    return timer ? std::optional(timer->deadline) : std::nullopt;
}

void SimulatedPlatform::runMainQueue() {
    while (!mainQueue_.empty()) {
        auto block = std::move(mainQueue_.front());
        mainQueue_.erase(mainQueue_.begin());
        block();
    }
}

void SimulatedPlatform::prune() {
    std::erase_if(timers_, [](const auto& timer) { return !timer->valid; });
}

void SimulatedPlatform::endMenuTracking() {
    trackingMenu_ = false;
    while (const auto timer = nextDue(now_)) {
        fire(timer);
    }
    prune();
}

int SimulatedPlatform::liveTimerCount() const {
    return static_cast<int>(std::count_if(timers_.begin(), timers_.end(), [](const auto& timer) {
        return timer->valid && timer->ofCore;
    }));
}

// --- input

std::shared_ptr<MonitorToken> SimulatedPlatform::addGlobalMonitor(
    uint64_t mask, std::function<void(uint32_t)> handler) {
    monitorMask_ = mask;
    monitorHandler_ = std::move(handler);
    return std::make_shared<MonitorToken>();
}

void SimulatedPlatform::sendMonitorEvent(uint32_t type) {
    input();
    // As the X11 platform does, events reach the monitor only while an overlay is up.
    if (monitorHandler_ && type < 64 && ((monitorMask_ >> type) & 1) && overlay_ &&
        overlay_->isVisible()) {
        monitorHandler_(type);
    }
    runMainQueue();
}

void SimulatedPlatform::locatePointer(std::function<void(std::optional<Point>)> answer) {
    if (answersPointerLate) {
        heldPointerQueries_.push_back(std::move(answer));
    } else {
        answer(mouseLocation());
    }
}

bool SimulatedPlatform::answerPointerQuery(std::optional<Point> answer) {
    if (heldPointerQueries_.empty()) {
        return false;
    }
    const auto held = std::move(heldPointerQueries_.front());
    heldPointerQueries_.erase(heldPointerQueries_.begin());
    held(answer);
    runMainQueue();
    return true;
}

void SimulatedPlatform::movePointer(Point to) {
    pointer = to;
    sendMonitorEvent(5);
}

std::shared_ptr<EventTap> SimulatedPlatform::createEventTap(uint64_t eventMask,
                                                            EventTapHandlers handlers) {
    record("createEventTap");
    if (!tapCreationSucceeds) {
        return nullptr;
    }
    tap_ = std::make_shared<SimEventTap>(eventMask, std::move(handlers));
    return tap_;
}

bool SimulatedPlatform::sendPress(Point tapLocation, uint64_t flags, uint32_t type) {
    input();
    if (!tap_ || !tap_->isValid() || !tap_->isEnabled() || !tap_->watches(type)) {
        return true;
    }
    const bool passed = tap_->handlers().callback(type, TapEvent{tapLocation, flags});
    runMainQueue();
    return passed;
}

void SimulatedPlatform::disableTapBySystem(uint32_t pseudoType) {
    if (!tap_ || !tap_->isValid()) {
        return;
    }
    tap_->setEnabled(false);
    tap_->handlers().callback(pseudoType, TapEvent{});
    runMainQueue();
}

// --- windows and notifications

std::unique_ptr<OverlaySurface> SimulatedPlatform::createOverlaySurface(const Rect& contentRect) {
    record("createOverlaySurface");
    auto surface = std::make_unique<SimOverlaySurface>(*this, contentRect);
    overlay_ = surface.get();
    return surface;
}

std::shared_ptr<StatusItem> SimulatedPlatform::createStatusItem(StatusItemHandlers handlers) {
    if (!statusItemAvailable) {
        return nullptr;
    }
    statusItem_ = std::make_shared<SimStatusItem>(*this, std::move(handlers), statusItemHasButton);
    return statusItem_;
}

std::shared_ptr<SettingsWindow> SimulatedPlatform::createSettingsWindow(
    std::function<void(const SettingsWindow*)> windowWillClose) {
    auto window = std::make_shared<SimSettingsWindow>(*this, std::move(windowWillClose));
    settingsWindows.push_back(window);
    return window;
}

void SimulatedPlatform::post(WorkspaceNotification name) {
    for (auto [at, end] = workspaceObservers_.equal_range(name); at != end; ++at) {
        at->second();
    }
    runMainQueue();
}

void SimulatedPlatform::postDistributed(const std::string& name) {
    for (auto [at, end] = distributedObservers_.equal_range(name); at != end; ++at) {
        at->second();
    }
    runMainQueue();
}

int SimulatedPlatform::callCount(const std::string& prefix) const {
    return static_cast<int>(std::count_if(
        calls.begin(), calls.end(), [&](const std::string& c) { return c.rfind(prefix, 0) == 0; }));
}

}  // namespace dovetrel::sim
