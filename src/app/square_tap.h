// Presses on the square where the compositor gives them to the square's owner alone (a Wayland
// surface of ours, or the GNOME Shell extension's actor): each is swallowed whatever the core
// says, and the square lets the pointer through while the tap is off.
#pragma once

#include <functional>
#include <utility>

#include "core/click_guard.h"
#include "core/platform.h"

namespace dovetrel::app {

class SquareTap : public EventTap {
  public:
    SquareTap(EventTapHandlers handlers, std::function<void(bool)> takeInput)
        : handlers_(std::move(handlers)), takeInput_(std::move(takeInput)) {}

    void setEnabled(bool enabled) override {
        enabled_ = enabled && valid_;
        takeInput_(enabled_);
    }
    bool isEnabled() const override { return enabled_; }
    void invalidate() override {
        valid_ = false;
        setEnabled(false);
    }
    void publish(const ClickGuardSnapshot& /*snapshot*/) override {}

    void press(uint32_t type, Point tapLocation) {
        if (enabled_ && handlers_.callback) {
            // No modifiers are known here: a press that should have passed could not be
            // passed on anyway, having come to us.
            handlers_.callback(type, TapEvent{tapLocation, 0});
        }
    }

  private:
    EventTapHandlers handlers_;
    std::function<void(bool)> takeInput_;
    bool enabled_ = false;
    bool valid_ = true;
};

}  // namespace dovetrel::app
