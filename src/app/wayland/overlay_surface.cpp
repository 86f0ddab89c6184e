#include "app/wayland/overlay_surface.h"

#include <QPainter>
#include <cmath>

#include "app/qt/screen_geometry.h"
#include "app/ui/overlay_painting.h"

namespace dovetrel::app {

WaylandOverlaySurface::WaylandOverlaySurface(WaylandConnection& connection, const Rect& contentRect)
    : surface_(connection, "dovetrel-square") {
    setFrame(contentRect);
    surface_.setPainter([this](QImage& image) {
        QPainter painter(&image);
        paintOverlay(painter, frame_.size.width, alpha_);
    });
    // Taken away by the compositor, the square is gone as if ordered out.
    surface_.closed = [this] {
        fade_.stop();
        if (visibilityChanged) {
            visibilityChanged(false);
        }
    };
}

WaylandOverlaySurface::~WaylandOverlaySurface() {
    fade_.stop();
    if (destroyed) {
        destroyed();
    }
}

void WaylandOverlaySurface::setFrame(const Rect& frame) {
    frame_ = frame;
}

void WaylandOverlaySurface::setAlpha(double alpha) {
    alpha_ = alpha;
    surface_.repaint();
}

void WaylandOverlaySurface::orderFrontRegardless() {
    const QRectF global = toGlobalRect(frame_, primaryScreenGeometry());
    const QRect area(int(std::lround(global.x())), int(std::lround(global.y())),
                     int(std::lround(global.width())), int(std::lround(global.height())));
    surface_.show(area, takesInput_);
    if (visibilityChanged) {
        visibilityChanged(true);
    }
}

void WaylandOverlaySurface::orderOut() {
    fade_.stop();
    const bool wasShown = surface_.isShown();
    surface_.hide();
    if (wasShown && visibilityChanged) {
        visibilityChanged(false);
    }
}

void WaylandOverlaySurface::setTakesInput(bool takesInput) {
    takesInput_ = takesInput;
    surface_.setTakesInput(takesInput);
}

void WaylandOverlaySurface::animateAlpha(double target, double seconds, Easing easing,
                                         std::function<void()> completion) {
    fade_.start(
        alpha_, target, seconds, easing, [this](double alpha) { setAlpha(alpha); },
        std::move(completion));
}

}  // namespace dovetrel::app
