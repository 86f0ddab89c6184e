#include "core/click_guard.h"

#include "core/app_delegate.h"

namespace dovetrel {

PressVerdict decidePress(const ClickGuardSnapshot& snapshot, Point tapLocation, uint64_t flags) {
    if (!snapshot.guardOn || !snapshot.overlayVisible) {
        return PressVerdict::pass;
    }
    // Without a screen list there is nothing to flip by; the press counts as on the overlay.
    if (snapshot.primaryScreenHeight) {
        const Point inWindowCoordinates{tapLocation.x,
                                        *snapshot.primaryScreenHeight - tapLocation.y};
        if (!rectContainsPoint(snapshot.overlayFrame, inWindowCoordinates)) {
            return PressVerdict::passAndDismiss;
        }
    }
    return (flags & kModifierMask) != 0 ? PressVerdict::passAndDismiss
                                        : PressVerdict::dropAndDismiss;
}

ClickGuardSnapshot AppDelegate::clickGuardSnapshot() const {
    ClickGuardSnapshot snapshot;
    snapshot.guardOn = isEnabled();
    snapshot.overlayVisible = overlayIsUp();
    if (overlayWindow) {
        snapshot.overlayFrame = overlayWindow->frame();
    }
    // The flip always uses the primary display, whichever display or program has focus.
    if (const auto screens = platform_.screenFrames(); !screens.empty()) {
        snapshot.primaryScreenHeight = screens.front().size.height;
    }
    return snapshot;
}

void AppDelegate::setupEventTap() {
    if (eventTap) {
        return;
    }
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    EventTapHandlers handlers;
    handlers.callback = [weak](uint32_t type, const TapEvent& event) {
        return eventTapCallback(type, event, weak.lock().get());
    };
    handlers.dismissOverlay = weakly(&AppDelegate::dismissOverlay);
    eventTap = platform_.createEventTap(kTapEventMask, std::move(handlers));
    if (eventTap) {
        eventTap->setEnabled(false);
        publishGuardState();
        return;
    }
    if (accessibilityTimer) {
        return;  // the permission poll creates the tap when it can
    }
    accessibilityTimer = platform_.scheduleTimer(kAccessibilityPollInterval, true, [weak] {
        const auto self = weak.lock();
        if (!self) {
            return;
        }
        self->setupEventTap();
        if (self->eventTap && self->accessibilityTimer) {
            self->accessibilityTimer->invalidate();
            self->accessibilityTimer = nullptr;
        }
    });
}

void AppDelegate::publishGuardState() {
    if (eventTap) {
        eventTap->publish(clickGuardSnapshot());
    }
}

bool eventTapCallback(uint32_t type, const TapEvent& event, AppDelegate* delegate) {
    if (delegate == nullptr) {
        return true;
    }
    if (type == kTapDisabledByTimeout || type == kTapDisabledByUserInput) {
        if (delegate->eventTap) {
            delegate->eventTap->setEnabled(true);
        }
        return true;
    }
    const PressVerdict verdict =
        decidePress(delegate->clickGuardSnapshot(), event.location, event.flags);
    if (verdict != PressVerdict::pass) {
        delegate->platform().dispatchAsync(
            [self = delegate->shared_from_this()] { self->dismissOverlay(); });
    }
    return verdict != PressVerdict::dropAndDismiss;
}

}  // namespace dovetrel
