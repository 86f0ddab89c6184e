// Between Qt's global coordinates (top-left origin, y down) and the core's window and tap
// coordinates, both relative to the primary monitor.
#pragma once

#include <QPointF>
#include <QRect>
#include <QRectF>

#include "core/geometry.h"

namespace dovetrel::app {

// `primary` is the primary monitor's geometry in Qt's global coordinates.
Point toWindowPoint(QPointF global, const QRect& primary);
Point toTapPoint(QPointF global, const QRect& primary);
Rect toWindowRect(const QRectF& global, const QRect& primary);
QRectF toGlobalRect(const Rect& window, const QRect& primary);

// The primary monitor's geometry, or an empty rectangle when there is no screen.
QRect primaryScreenGeometry();

// Root-window pixels in Qt's global coordinates: Qt keeps the primary screen's top-left corner
// in device pixels and scales distances from it by the screen's device pixel ratio.
QPointF rootToGlobal(QPointF root, const QRect& primary, double devicePixelRatio);

}  // namespace dovetrel::app
