#include "app/ui/pointer_glyph.h"

#include <QPainter>
#include <QPolygonF>
#include <algorithm>

namespace dovetrel::app {
namespace {

// The tray icon's arrow: its outline on a grid 11 wide and 17.6 high.
constexpr double kArrowWidth = 11.0;
constexpr double kArrowHeight = 17.6;
// The round-joined outline that gives the glyph a medium weight and softens its corners, as a
// share of the arrow's height.
constexpr double kRoundingShare = 0.06;

}  // namespace

QPainterPath pointerArrowPath(const QRectF& bounds) {
    const double scale = std::min(bounds.width() / kArrowWidth, bounds.height() / kArrowHeight);
    const QPointF origin(bounds.center().x() - kArrowWidth * scale / 2,
                         bounds.center().y() - kArrowHeight * scale / 2);
    const QPolygonF outline{{0.0, 0.0},  {0.0, 15.5}, {3.6, 12.2}, {6.0, 17.6},
                            {8.4, 16.6}, {6.0, 11.3}, {11.0, 11.3}};
    QPainterPath path;
    QPolygonF placed;
    for (const QPointF& point : outline) {
        placed << origin + point * scale;
    }
    path.addPolygon(placed);
    path.closeSubpath();
    return path;
}

void drawPointerArrow(QPainter& painter, const QRectF& bounds, const QColor& color) {
    const double rounding = bounds.height() * kRoundingShare;
    const QPainterPath arrow =
        pointerArrowPath(bounds.adjusted(rounding / 2, rounding / 2, -rounding / 2, -rounding / 2));
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(QPen(color, rounding, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    painter.setBrush(color);
    painter.drawPath(arrow);
    painter.restore();
}

}  // namespace dovetrel::app
