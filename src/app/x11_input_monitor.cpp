#include "app/x11_input_monitor.h"

#include <QCursor>

namespace dovetrel::app {

struct X11InputMonitor::State {};

X11InputMonitor::X11InputMonitor() : state_(std::make_unique<State>()) {}

X11InputMonitor::~X11InputMonitor() = default;

std::shared_ptr<X11InputMonitor> X11InputMonitor::start(uint64_t /*mask*/,
                                                        std::function<void(uint32_t)>) {
    return nullptr;
}

QPointF X11InputMonitor::pointerPosition() {
    return QCursor::pos();
}

}  // namespace dovetrel::app
