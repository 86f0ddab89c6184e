#include "app/ui/overlay_surface.h"

#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QRegion>
#include <cmath>

#include "app/qt/screen_geometry.h"
#include "app/ui/overlay_painting.h"
#include "app/x11/connection.h"
#include "core/overlay_window.h"

namespace dovetrel::app {
class OverlayWidget : public QWidget {
  public:
    OverlayWidget()
        : QWidget(nullptr, Qt::FramelessWindowHint | Qt::X11BypassWindowManagerHint |
                               Qt::WindowStaysOnTopHint | Qt::WindowTransparentForInput |
                               Qt::WindowDoesNotAcceptFocus | Qt::Tool) {
        setAttribute(Qt::WA_TranslucentBackground);
        setAttribute(Qt::WA_ShowWithoutActivating);
        setAttribute(Qt::WA_NoSystemBackground);
        setWindowTitle(QStringLiteral("Dovetrel overlay"));
    }

    void setAlpha(double alpha) {
        alpha_ = alpha;
        update();
    }

    double alpha() const { return alpha_; }
    void setSide(double side) { side_ = side; }

    // Without a compositor a translucent window shows as a dark square over the user's work,
    // so only the rim is kept and the fades become plain show and hide.
    void adaptToCompositor(bool composited) {
        composited_ = composited;
        if (composited) {
            clearMask();
            return;
        }
        const OverlayDrawing drawing = overlayDrawing(side_);
        const double outerGrow = drawing.outerLineWidth / 2 + 0.5;
        const QRectF outer =
            toQRect(drawing.outer, side_).adjusted(-outerGrow, -outerGrow, outerGrow, outerGrow);
        const QRectF hole = toQRect(drawing.inner, side_).adjusted(1, 1, -1, -1);
        QPainterPath rim;
        rim.addRoundedRect(outer, drawing.outerRadius + outerGrow, drawing.outerRadius + outerGrow);
        QPainterPath inside;
        inside.addRoundedRect(hole, drawing.innerRadius, drawing.innerRadius);
        setMask(QRegion(rim.subtracted(inside).toFillPolygon().toPolygon()));
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.fillRect(rect(), Qt::transparent);
        painter.setCompositionMode(QPainter::CompositionMode_SourceOver);
        paintOverlay(painter, side_, composited_ ? alpha_ : 1.0);
    }

  private:
    double alpha_ = 1.0;
    double side_ = 0;
    bool composited_ = true;
};

QtOverlaySurface::QtOverlaySurface(const Rect& contentRect)
    : widget_(std::make_unique<OverlayWidget>()) {
    setFrame(contentRect);
}

QtOverlaySurface::~QtOverlaySurface() {
    fade_.stop();
}

void QtOverlaySurface::setFrame(const Rect& frame) {
    frame_ = frame;
    const QRectF global = toGlobalRect(frame, primaryScreenGeometry());
    widget_->setSide(frame.size.width);
    widget_->setGeometry(
        QRect(QPoint(int(std::lround(global.x())), int(std::lround(global.y()))),
              QSize(int(std::lround(global.width())), int(std::lround(global.height())))));
}

void QtOverlaySurface::setAlpha(double alpha) {
    widget_->setAlpha(alpha);
}

void QtOverlaySurface::orderFrontRegardless() {
    widget_->adaptToCompositor(hasCompositor());
    visible_ = true;
    if (visibilityChanged) {
        visibilityChanged(true);
    }
    widget_->show();
    widget_->raise();
}

void QtOverlaySurface::orderOut() {
    fade_.stop();
    visible_ = false;
    widget_->hide();
    if (visibilityChanged) {
        visibilityChanged(false);
    }
}

void QtOverlaySurface::setBackgroundBlurRadius(double /*radius*/) {
    // KWin and compositors that follow it blur behind windows carrying this property; the
    // radius is theirs to choose.
    if (widget_->isVisible()) {
        requestBlurBehind(widget_->winId());
    }
}

void QtOverlaySurface::animateAlpha(double target, double seconds, Easing easing,
                                    std::function<void()> completion) {
    fade_.start(
        widget_->alpha(), target, seconds, easing,
        [this](double alpha) { widget_->setAlpha(alpha); }, std::move(completion));
}

QWidget* QtOverlaySurface::widget() const {
    return widget_.get();
}

unsigned long QtOverlaySurface::windowId() const {
    return widget_->winId();
}

}  // namespace dovetrel::app
