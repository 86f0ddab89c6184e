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
        stopAnimation();
        if (visibilityChanged) {
            visibilityChanged(false);
        }
    };
}

WaylandOverlaySurface::~WaylandOverlaySurface() {
    stopAnimation();
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
    stopAnimation();
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
    stopAnimation();
    auto* animation = new QVariantAnimation(&animations_);
    animation->setStartValue(alpha_);
    animation->setEndValue(target);
    animation->setDuration(int(std::lround(seconds * 1000)));
    animation->setEasingCurve(easing == Easing::easeOut ? QEasingCurve::OutQuad
                                                        : QEasingCurve::InQuad);
    QObject::connect(animation, &QVariantAnimation::valueChanged, &animations_,
                     [this](const QVariant& value) { setAlpha(value.toDouble()); });
    QObject::connect(animation, &QVariantAnimation::finished, &animations_,
                     [completion = std::move(completion)] {
                         if (completion) {
                             completion();
                         }
                     });
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void WaylandOverlaySurface::stopAnimation() {
    if (animation_) {
        // A replaced animation's completion must never run.
        animation_->disconnect();
        animation_->stop();
    }
}

}  // namespace dovetrel::app
