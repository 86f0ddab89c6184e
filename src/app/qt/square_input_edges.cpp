#include "app/qt/square_input_edges.h"

#include <QElapsedTimer>
#include <QTimer>

namespace dovetrel::app {
namespace {

// An input edge this close to something the square told came from the pointer on it.
constexpr qint64 kSquareEventSlack = 50;  // milliseconds
// How long after an input edge to look for the square's own events, which may arrive later.
constexpr int kEdgeSettle = 20;  // milliseconds

qint64 millisecondsNow() {
    static QElapsedTimer clock;
    if (!clock.isValid()) {
        clock.start();
    }
    return clock.elapsed();
}

}  // namespace

void SquareInputEdges::squareEvent() {
    lastSquareEvent_ = millisecondsNow();
}

void SquareInputEdges::inputEdge() {
    const qint64 edge = millisecondsNow();
    QTimer::singleShot(kEdgeSettle, &context_, [this, edge] {
        if (lastSquareEvent_ < edge - kSquareEventSlack && otherInput_) {
            otherInput_();
        }
    });
}

}  // namespace dovetrel::app
