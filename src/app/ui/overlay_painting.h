// The square as the core draws it (overlayDrawing), painted with Qt for any surface that
// carries it.
#pragma once

#include <QPainter>
#include <QRectF>

#include "core/geometry.h"

namespace dovetrel::app {

// A rectangle of the core's drawing (bottom-left origin) in an area `height` high (top-left).
QRectF toQRect(const Rect& rect, double height);

// Paints the square of side `side` into a `side`-sized, cleared area of `painter` at `opacity`.
void paintOverlay(QPainter& painter, double side, double opacity);

}  // namespace dovetrel::app
