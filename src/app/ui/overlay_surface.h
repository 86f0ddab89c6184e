// The overlay's window on X11: override-redirect, click-through, never focused, translucent.
#pragma once

#include <QWidget>

#include "app/ui/alpha_fade.h"
#include "core/platform.h"

namespace dovetrel::app {

class OverlayWidget;

class QtOverlaySurface : public OverlaySurface {
  public:
    explicit QtOverlaySurface(const Rect& contentRect);
    ~QtOverlaySurface() override;

    Rect frame() const override { return frame_; }
    void setFrame(const Rect& frame) override;
    bool isVisible() const override { return visible_; }
    void setAlpha(double alpha) override;
    void orderFrontRegardless() override;
    void orderOut() override;
    void setBackgroundBlurRadius(double radius) override;
    void animateAlpha(double target, double seconds, Easing easing,
                      std::function<void()> completion) override;

    // The X window, for tests and the benchmark; 0 before the first show.
    unsigned long windowId() const;
    QWidget* widget() const;

    // Told true when the window is ordered in, false when it is ordered out.
    std::function<void(bool visible)> visibilityChanged;

  private:
    std::unique_ptr<OverlayWidget> widget_;
    // Declared after the widget, so that a fade never outlives it.
    AlphaFade fade_;
    Rect frame_;
    bool visible_ = false;
};

}  // namespace dovetrel::app
