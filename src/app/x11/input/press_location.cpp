#include "app/x11/input/press_location.h"

#include <QPointF>
#include <QRectF>

namespace dovetrel::app {

Point tapLocation(int rootX, int rootY, const Judgement& judgement) {
    const ClickGuardSnapshot& snapshot = judgement.snapshot;
    if (snapshot.overlayVisible && judgement.overlayOnScreen &&
        !judgement.overlayOnScreen->isEmpty()) {
        const QRectF drawn(*judgement.overlayOnScreen);
        const QRectF frame = toGlobalRect(snapshot.overlayFrame, judgement.primaryScreen);
        const QPointF global(
            frame.x() + (rootX + 0.5 - drawn.x()) * frame.width() / drawn.width(),
            frame.y() + (rootY + 0.5 - drawn.y()) * frame.height() / drawn.height());
        return toTapPoint(global, judgement.primaryScreen);
    }
    return toTapPoint(rootToGlobal(QPointF(rootX, rootY), judgement.monitors),
                      judgement.primaryScreen);
}

}  // namespace dovetrel::app
