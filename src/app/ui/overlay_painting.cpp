#include "app/ui/overlay_painting.h"

#include <QPainterPath>

#include "core/overlay_window.h"

namespace dovetrel::app {
namespace {

QColor toQColor(const Rgba& color) {
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue),
                            float(color.alpha));
}

}  // namespace

QRectF toQRect(const Rect& rect, double height) {
    // The drawing is in bottom-left-origin coordinates; the widget's are top-left.
    return {rect.origin.x, height - rect.origin.y - rect.size.height, rect.size.width,
            rect.size.height};
}

void paintOverlay(QPainter& painter, double side, double opacity) {
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setOpacity(opacity);
    const OverlayDrawing drawing = overlayDrawing(side);
    QPainterPath outer;
    outer.addRoundedRect(toQRect(drawing.outer, side), drawing.outerRadius, drawing.outerRadius);
    painter.fillPath(outer, toQColor(drawing.outerFill));
    painter.strokePath(outer, QPen(toQColor(drawing.outerStroke), drawing.outerLineWidth));
    QPainterPath inner;
    inner.addRoundedRect(toQRect(drawing.inner, side), drawing.innerRadius, drawing.innerRadius);
    painter.strokePath(inner, QPen(toQColor(drawing.innerStroke), drawing.innerLineWidth));
}

}  // namespace dovetrel::app
