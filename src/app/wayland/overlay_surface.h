// The square in a Wayland session: a layer surface painted by the program itself. Fades are
// repaints at each step.
#pragma once

#include <memory>

#include "app/ui/alpha_fade.h"
#include "app/wayland/layer_surface.h"
#include "core/platform.h"

namespace dovetrel::app {

class WaylandOverlaySurface : public OverlaySurface {
  public:
    WaylandOverlaySurface(WaylandConnection& connection, const Rect& contentRect);
    ~WaylandOverlaySurface() override;

    Rect frame() const override { return frame_; }
    void setFrame(const Rect& frame) override;
    bool isVisible() const override { return surface_.isShown(); }
    void setAlpha(double alpha) override;
    void orderFrontRegardless() override;
    void orderOut() override;
    // No blur: wlroots offers none to clients.
    void setBackgroundBlurRadius(double /*radius*/) override {}
    void animateAlpha(double target, double seconds, Easing easing,
                      std::function<void()> completion) override;

    // Whether the square takes the pointer's presses, shown or not.
    void setTakesInput(bool takesInput);
    // Told true when the square is ordered in, false when it is ordered out or taken away.
    std::function<void(bool shown)> visibilityChanged;
    // Told as the square goes for good.
    std::function<void()> destroyed;
    // The pointer over the square; set before it is shown.
    PointerEvents& pointerEvents() { return surface_.pointerEvents; }

  private:
    LayerSurface surface_;
    // Declared after the surface, so that a fade never outlives it.
    AlphaFade fade_;
    Rect frame_;
    double alpha_ = 1.0;
    bool takesInput_ = false;
};

}  // namespace dovetrel::app
