#include "app/wayland/pointer_probe.h"

namespace dovetrel::app {

PointerProbe::PointerProbe(WaylandConnection& connection)
    : surface_(connection, "dovetrel-pointer-probe") {
    surface_.pointerEvents.entered = [this](QPointF position) { answer(position); };
    surface_.closed = [this] { answer(std::nullopt); };
    patience_.setSingleShot(true);
    patience_.setInterval(kPatience);
    QObject::connect(&patience_, &QTimer::timeout, [this] { answer(std::nullopt); });
}

void PointerProbe::locate(std::function<void(std::optional<QPointF>)> answer) {
    waiting_.push_back(std::move(answer));
    if (waiting_.size() > 1) {
        return;
    }
    surface_.show(QRect(), true);
    patience_.start();
}

void PointerProbe::answer(std::optional<QPointF> position) {
    patience_.stop();
    for (const auto& waiting : std::exchange(waiting_, {})) {
        waiting(position);
    }
    surface_.hide();
}

}  // namespace dovetrel::app
