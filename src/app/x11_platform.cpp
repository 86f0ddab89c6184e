#include "app/x11_platform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <ctime>
#include <limits>
#include <utility>

#include "app/qt/autostart.h"
#include "app/qt/screen_geometry.h"
#include "app/tray/status_item.h"
#include "app/ui/overlay_surface.h"
#include "app/ui/settings/settings_window.h"
#include "app/x11/connection.h"
#include "app/x11/input/input_monitor.h"
#include "core/app_delegate.h"

namespace dovetrel::app {

X11Platform::X11Platform(BuildInfo build)
    : build_(std::move(build)),
      store_(SettingsFileStore::defaultPath()),
      idleWatch_(X11IdleWatch::open([this](std::function<void()> block) {
          runLoop_.scheduleTimer(0, false, std::move(block));
      })),
      access_([this] { return now(); }) {
    const auto* application = qGuiApp;
    const auto screensChanged = [this] {
        notifyWorkspace(WorkspaceNotification::screenParametersDidChange);
    };
    QObject::connect(application, &QGuiApplication::primaryScreenChanged, application,
                     screensChanged);
    QObject::connect(
        application, &QGuiApplication::screenAdded, application, [screensChanged](QScreen* screen) {
            QObject::connect(screen, &QScreen::geometryChanged, qGuiApp, screensChanged);
            screensChanged();
        });
    for (QScreen* screen : QGuiApplication::screens()) {
        QObject::connect(screen, &QScreen::geometryChanged, application, screensChanged);
    }
}

X11Platform::~X11Platform() = default;

double X11Platform::now() {
    // Counts time asleep, and setting the clock does not move it.
    timespec time{};
    clock_gettime(CLOCK_BOOTTIME, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

TimerRef X11Platform::scheduleTimer(double interval, bool repeats, std::function<void()> block) {
    return runLoop_.scheduleTimer(interval, repeats, std::move(block));
}

void X11Platform::dispatchAsync(std::function<void()> block) {
    RunLoop::dispatchAsync(std::move(block));
}

void X11Platform::dispatchAfter(double delay, std::function<void()> block) {
    RunLoop::dispatchAfter(delay, std::move(block));
}

TimerRef X11Platform::scheduleIdleTimer(double interval, std::function<void()> block) {
    return idleWatch_ ? idleWatch_->waitForRest(interval, std::move(block))
                      : runLoop_.scheduleTimer(interval, false, std::move(block));
}

TimerRef X11Platform::scheduleInputTimer(std::function<void()> block) {
    // Without the idle counters the monitor's events arm the countdown again by themselves.
    return idleWatch_ ? idleWatch_->waitForInput(std::move(block))
                      : runLoop_.scheduleTimer(std::numeric_limits<double>::infinity(), false,
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

std::vector<Rect> X11Platform::screenFrames() {
    std::vector<Rect> frames;
    const QRect primary = primaryScreenGeometry();
    const auto screens = QGuiApplication::screens();
    for (const QScreen* screen : screens) {
        const Rect frame = toWindowRect(screen->geometry(), primary);
        if (screen == QGuiApplication::primaryScreen()) {
            frames.insert(frames.begin(), frame);
        } else {
            frames.push_back(frame);
        }
    }
    return frames;
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

bool X11Platform::isScreenLockedOrBlanked() {
    ensureNotifications();
    return notifications_->isScreenLockedOrBlanked();
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

std::shared_ptr<StatusItem> X11Platform::createStatusItem(StatusItemHandlers handlers) {
    return std::make_shared<TrayStatusItem>(
        std::move(handlers), [this](bool tracking) { runLoop_.setTrackingMenu(tracking); });
}

std::shared_ptr<SettingsWindow> X11Platform::createSettingsWindow(
    std::function<void(const SettingsWindow*)> windowWillClose) {
    return std::make_shared<SettingsWindowWidget>(*this, std::move(windowWillClose));
}

void X11Platform::addWorkspaceObserver(WorkspaceNotification name, std::function<void()> handler) {
    ensureNotifications();
    workspaceObservers_.emplace_back(name, std::move(handler));
}

void X11Platform::addDistributedObserver(const std::string& name, std::function<void()> handler) {
    ensureNotifications();
    distributedObservers_.emplace_back(name, std::move(handler));
}

void X11Platform::ensureNotifications() {
    if (notifications_) {
        return;
    }
    notifications_ = std::make_unique<DesktopNotifications>(
        [this](WorkspaceNotification name) { notifyWorkspace(name); },
        [this] { notifyDistributed(kScreenIsLockedNotification); });
}

void X11Platform::notifyWorkspace(WorkspaceNotification name) {
    for (const auto& [observed, handler] : workspaceObservers_) {
        if (observed == name) {
            handler();
        }
    }
}

void X11Platform::notifyDistributed(const std::string& name) {
    for (const auto& [observed, handler] : distributedObservers_) {
        if (observed == name) {
            handler();
        }
    }
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

std::optional<std::string> X11Platform::bundleVersion() {
    if (build_.buildNumber.empty()) {
        return std::nullopt;
    }
    return build_.buildNumber;
}

std::string X11Platform::releaseFeedURL() {
    return build_.releaseFeedURL;
}

void X11Platform::httpGet(const HttpRequest& request,
                          std::function<void(std::optional<std::string>)> completion) {
    feed_.get(request, std::move(completion));
}

void X11Platform::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

bool X11Platform::registerLoginItem() {
    return registerAutostart(QCoreApplication::applicationFilePath());
}

bool X11Platform::unregisterLoginItem() {
    return unregisterAutostart();
}

void X11Platform::setActivationPolicy(ActivationPolicy /*policy*/) {
    // No X11 meaning: a program is not hidden from or shown in a dock by policy.
}

void X11Platform::activateIgnoringOtherApps() {}

void X11Platform::terminate() {
    QCoreApplication::quit();
}

}  // namespace dovetrel::app
