#include "app/qt/screen_geometry.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>
#include <algorithm>

namespace dovetrel::app {

Point toWindowPoint(QPointF global, const QRect& primary) {
    return {global.x() - primary.x(), primary.y() + primary.height() - global.y()};
}

Point toTapPoint(QPointF global, const QRect& primary) {
    return {global.x() - primary.x(), global.y() - primary.y()};
}

Rect toWindowRect(const QRectF& global, const QRect& primary) {
    return {{global.x() - primary.x(), primary.y() + primary.height() - global.bottom()},
            {global.width(), global.height()}};
}

QRectF toGlobalRect(const Rect& window, const QRect& primary) {
    return {window.origin.x + primary.x(),
            primary.y() + primary.height() - window.origin.y - window.size.height,
            window.size.width, window.size.height};
}

namespace {

double positiveRatio(const MonitorArea& monitor) {
    return monitor.devicePixelRatio > 0 ? monitor.devicePixelRatio : 1.0;
}

QRectF serverArea(const MonitorArea& monitor) {
    return {QPointF(monitor.geometry.topLeft()),
            QSizeF(monitor.geometry.size()) * positiveRatio(monitor)};
}

// How far `point` lies outside `area`, along both axes together; 0 inside.
double distanceOutside(QPointF point, const QRectF& area) {
    const double dx = std::max({area.left() - point.x(), 0.0, point.x() - area.right()});
    const double dy = std::max({area.top() - point.y(), 0.0, point.y() - area.bottom()});
    return dx + dy;
}

}  // namespace

std::vector<MonitorArea> currentMonitors() {
    std::vector<MonitorArea> monitors;
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()) == nullptr) {
        return monitors;
    }
    for (const QScreen* screen : QGuiApplication::screens()) {
        monitors.push_back({screen->geometry(), screen->devicePixelRatio()});
    }
    return monitors;
}

std::optional<std::size_t> monitorHolding(QPoint serverPoint,
                                          const std::vector<MonitorArea>& monitors) {
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        const MonitorArea& monitor = monitors[i];
        const QRect area(monitor.geometry.topLeft(),
                         monitor.geometry.size() * positiveRatio(monitor));
        if (area.contains(serverPoint)) {
            return i;
        }
    }
    return std::nullopt;
}

QPointF rootToGlobal(QPointF root, const std::vector<MonitorArea>& monitors) {
    if (monitors.empty()) {
        return root;
    }
    auto chosen = monitorHolding(root.toPoint(), monitors);
    if (!chosen) {
        chosen = 0;
        for (std::size_t i = 1; i < monitors.size(); ++i) {
            if (distanceOutside(root, serverArea(monitors[i])) <
                distanceOutside(root, serverArea(monitors[*chosen]))) {
                chosen = i;
            }
        }
    }
    const MonitorArea& monitor = monitors[*chosen];
    const QPointF origin = monitor.geometry.topLeft();
    return origin + (root - origin) / positiveRatio(monitor);
}

QRect primaryScreenGeometry() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry() : QRect();
}

}  // namespace dovetrel::app
