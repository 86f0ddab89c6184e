#include "app/screen_geometry.h"

#include <QGuiApplication>
#include <QScreen>

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

QPointF rootToGlobal(QPointF root, const QRect& primary, double devicePixelRatio) {
    if (devicePixelRatio <= 0 || devicePixelRatio == 1.0) {
        return root;
    }
    const QPointF origin = primary.topLeft();
    return origin + (root - origin) / devicePixelRatio;
}

QRect primaryScreenGeometry() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return screen != nullptr ? screen->geometry() : QRect();
}

}  // namespace dovetrel::app
