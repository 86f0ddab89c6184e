// The pointer arrow that stands for the program: on the settings window's icon tile and
// wherever else the program shows its mark.
#pragma once

#include <QColor>
#include <QPainterPath>
#include <QRectF>

class QPainter;

namespace dovetrel::app {

// The classic upright pointer arrow, its tip at the top left, scaled to fit `bounds` and
// centred in it.
QPainterPath pointerArrowPath(const QRectF& bounds);

// Fills the arrow in `color` with softly rounded corners, fitting inside `bounds`.
void drawPointerArrow(QPainter& painter, const QRectF& bounds, const QColor& color);

}  // namespace dovetrel::app
