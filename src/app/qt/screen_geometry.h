// Between Qt's global coordinates (top-left origin, y down) and the core's window and tap
// coordinates, both relative to the primary monitor.
#pragma once

#include <QPoint>
#include <QPointF>
#include <QRect>
#include <QRectF>
#include <cstddef>
#include <optional>
#include <vector>

#include "core/geometry.h"

namespace dovetrel::app {

// `primary` is the primary monitor's geometry in Qt's global coordinates.
Point toWindowPoint(QPointF global, const QRect& primary);
Point toTapPoint(QPointF global, const QRect& primary);
Rect toWindowRect(const QRectF& global, const QRect& primary);
QRectF toGlobalRect(const Rect& window, const QRect& primary);

// The primary monitor's geometry, or an empty rectangle when there is no screen.
QRect primaryScreenGeometry();

// A monitor as Qt reports it: its geometry in Qt's global coordinates and its pixel ratio.
struct MonitorArea {
    QRect geometry;
    double devicePixelRatio = 1.0;
};

// The monitors Qt knows, in its order; empty without a GUI application.
std::vector<MonitorArea> currentMonitors();

// The index of the monitor that holds `serverPoint` (root-window pixels); nullopt when none
// does.
std::optional<std::size_t> monitorHolding(QPoint serverPoint,
                                          const std::vector<MonitorArea>& monitors);

// Root-window pixels in Qt's global coordinates. Qt keeps each monitor's top-left corner in
// server pixels and scales distances from it by that monitor's ratio, so the mapping is the
// one of the monitor holding the point (the nearest one for a point off every monitor).
QPointF rootToGlobal(QPointF root, const std::vector<MonitorArea>& monitors);

}  // namespace dovetrel::app
