#include "app/x11_platform.h"

#include <QApplication>
#include <QCursor>
#include <QGuiApplication>
#include <QScreen>
#include <QWindow>
#include <algorithm>
#include <limits>
#include <utility>

#include "app/qt/screen_geometry.h"
#include "app/ui/overlay_surface.h"
#include "app/x11/connection.h"
#include "app/x11/input/input_monitor.h"

namespace dovetrel::app {

X11Platform::X11Platform(BuildInfo build)
    : QtPlatform(std::move(build)),
      idleWatch_(X11IdleWatch::open([this](std::function<void()> block) {
          runLoop().scheduleTimer(0, false, std::move(block));
      })),
      access_([this] { return now(); }) {}

X11Platform::~X11Platform() = default;

TimerRef X11Platform::scheduleIdleTimer(double interval, std::function<void()> block) {
    return idleWatch_ ? idleWatch_->waitForRest(interval, std::move(block))
                      : runLoop().scheduleTimer(interval, false, std::move(block));
}

TimerRef X11Platform::scheduleInputTimer(std::function<void()> block) {
    // Without the idle counters the monitor's events arm the countdown again by themselves.
    return idleWatch_ ? idleWatch_->waitForInput(std::move(block))
                      : runLoop().scheduleTimer(std::numeric_limits<double>::infinity(), false,
                                                std::move(block));
}

std::shared_ptr<MonitorToken> X11Platform::addGlobalMonitor(uint64_t mask,
                                                            std::function<void(uint32_t)> handler) {
    monitor_ = X11InputMonitor::start(mask, std::move(handler));
    monitor_->listen(!idleWatch_);
    return monitor_;
}

Point X11Platform::mouseLocation() {
    const QPointF pointer = monitor_ ? monitor_->pointerPosition() : QPointF(QCursor::pos());
    return toWindowPoint(pointer, primaryScreenGeometry());
}

std::shared_ptr<EventTap> X11Platform::createEventTap(uint64_t /*eventMask*/,
                                                      EventTapHandlers handlers) {
    // The grab covers exactly the presses the tap's mask names: every pointer button but
    // the wheel.
    return access_.openGuard(std::move(handlers), [this]() -> std::optional<QRect> {
        return overlay_ ? windowGeometryOnRoot(overlay_->winId()) : std::nullopt;
    });
}

std::optional<Rect> X11Platform::mainScreenFrame() {
    const QRect primary = primaryScreenGeometry();
    if (primary.isEmpty()) {
        return std::nullopt;
    }
    return toWindowRect(desktop_.activeWindowMonitor().value_or(primary), primary);
}

std::optional<std::function<uint32_t()>> X11Platform::cursorVisibilityFunction() {
    // X11 has no pointer-visibility flag; the pointer's image tells. With several X screens,
    // though, the pointer is out of sight on every screen but the one holding it.
    if (!desktop_.hasOtherScreens()) {
        return std::nullopt;
    }
    return [this]() -> uint32_t { return desktop_.pointerIsOnOwnScreen() ? 1 : 0; };
}

std::optional<CursorImage> X11Platform::currentSystemCursor() {
    const QScreen* screen = QGuiApplication::primaryScreen();
    return desktop_.currentCursor(screen != nullptr ? screen->devicePixelRatio() : 1.0);
}

std::optional<int32_t> X11Platform::frontmostApplicationPid() {
    return desktop_.activeApplicationPid();
}

std::optional<std::vector<WindowInfo>> X11Platform::onScreenWindows() {
    return desktop_.clientWindows();
}

std::unique_ptr<OverlaySurface> X11Platform::createOverlaySurface(const Rect& contentRect) {
    auto surface = std::make_unique<QtOverlaySurface>(contentRect);
    overlay_ = surface->widget();
    // While the square is up the core must tell movement inside it from movement out of it;
    // the rest of the time the idle watch says all it needs.
    surface->visibilityChanged = [this](bool visible) {
        if (monitor_ && idleWatch_) {
            monitor_->listen(visible);
        }
    };
    return surface;
}

bool X11Platform::isPointerOverOwnWindow() {
    // An open menu of ours holds the pointer wherever it is.
    if (QApplication::activePopupWidget() != nullptr) {
        return true;
    }
    const QPointF pointer = monitor_ ? monitor_->pointerPosition() : QPointF(QCursor::pos());
    const QWindowList windows = QGuiApplication::topLevelWindows();
    return std::any_of(windows.begin(), windows.end(), [&pointer](const QWindow* window) {
        return window->isVisible() && !window->flags().testFlag(Qt::WindowTransparentForInput) &&
               QRectF(window->geometry()).contains(pointer);
    });
}

bool X11Platform::isProcessTrusted(bool /*prompt*/) {
    return access_.isGranted(monitor_.get());
}

void X11Platform::resetAccessibilityRecord(const std::string& /*bundleIdentifier*/) {
    // X11 keeps no per-program permission record: nothing to reset.
}

}  // namespace dovetrel::app
