#include "app/client_square_platform.h"

#include <QApplication>
#include <utility>

#include "app/qt/screen_geometry.h"
#include "core/app_delegate.h"

namespace dovetrel::app {

ClientSquarePlatform::ClientSquarePlatform(BuildInfo build)
    : QtPlatform(std::move(build)), squareInput_([this] { report(eventtype::kKeyDown); }) {}

std::shared_ptr<MonitorToken> ClientSquarePlatform::addGlobalMonitor(
    uint64_t /*mask*/, std::function<void(uint32_t)> handler) {
    monitor_ = std::move(handler);
    return std::make_shared<MonitorToken>();
}

std::optional<Rect> ClientSquarePlatform::mainScreenFrame() {
    const QRect primary = primaryScreenGeometry();
    if (primary.isEmpty()) {
        return std::nullopt;
    }
    return toWindowRect(primary, primary);
}

bool ClientSquarePlatform::isPointerOverOwnWindow() {
    return QApplication::activePopupWidget() != nullptr;
}

void ClientSquarePlatform::report(uint32_t type) {
    if (monitor_ && squareIsUp()) {
        monitor_(type);
    }
}

void ClientSquarePlatform::squareMoved(Point pointer) {
    squareInput_.squareEvent();
    pointer_ = pointer;
    report(eventtype::kMouseMoved);
}

void ClientSquarePlatform::squareLeft(const Rect& frame) {
    squareInput_.squareEvent();
    // Where it went is not told; anywhere outside the square is as good.
    pointer_ = Point{frame.origin.x - 1, frame.origin.y - 1};
    report(eventtype::kMouseMoved);
}

void ClientSquarePlatform::squareScrolled() {
    squareInput_.squareEvent();
    report(eventtype::kScrollWheel);
}

}  // namespace dovetrel::app
