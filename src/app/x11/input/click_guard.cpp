#include "app/x11/input/click_guard.h"

#include <utility>

#include "app/qt/screen_geometry.h"
#include "app/x11/input/guard_thread.h"

namespace dovetrel::app {

X11ClickGuard::X11ClickGuard(EventTapHandlers handlers, OverlayGeometry overlayOnScreen)
    : handlers_(std::move(handlers)), overlayOnScreen_(std::move(overlayOnScreen)) {}

X11ClickGuard::~X11ClickGuard() {
    invalidate();
}

std::shared_ptr<X11ClickGuard> X11ClickGuard::create(EventTapHandlers handlers,
                                                     OverlayGeometry overlayOnScreen) {
    std::shared_ptr<X11ClickGuard> guard(
        new X11ClickGuard(std::move(handlers), std::move(overlayOnScreen)));
    guard->thread_ = GuardThread::start(
        guard->mailbox_, {guard->handlers_.dismissOverlay, guard->handlers_.callback});
    return guard->thread_ ? guard : nullptr;
}

void X11ClickGuard::setEnabled(bool enabled) {
    DCHECK_CALLED_ON_THREAD(mainThread_);
    if (invalidated_) {
        return;
    }
    enabled_ = enabled;
    mailbox_.setJudging(enabled);
    mailbox_.requestGrabs(enabled);
}

bool X11ClickGuard::isEnabled() const {
    DCHECK_CALLED_ON_THREAD(mainThread_);
    return enabled_;
}

void X11ClickGuard::invalidate() {
    DCHECK_CALLED_ON_THREAD(mainThread_);
    if (invalidated_) {
        return;
    }
    invalidated_ = true;
    enabled_ = false;
    mailbox_.setJudging(false);
    // Ending the thread lets go of the grabs; closing its connection also ends whatever grab
    // the server still holds for it.
    thread_.reset();
}

void X11ClickGuard::publish(const ClickGuardSnapshot& snapshot) {
    DCHECK_CALLED_ON_THREAD(mainThread_);
    if (invalidated_) {
        return;
    }
    Judgement judgement{snapshot, primaryScreenGeometry(), currentMonitors(), std::nullopt};
    if (snapshot.overlayVisible && overlayOnScreen_) {
        judgement.overlayOnScreen = overlayOnScreen_();
    }
    mailbox_.publish(std::move(judgement));
}

bool X11ClickGuard::isHealthy() const {
    return !invalidated_ && mailbox_.isHealthy();
}

}  // namespace dovetrel::app
