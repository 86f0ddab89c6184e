#include "app/qt_platform.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QScreen>
#include <QUrl>
#include <ctime>
#include <utility>

#include "app/qt/autostart.h"
#include "app/qt/screen_geometry.h"
#include "app/tray/status_item.h"
#include "app/ui/settings/settings_window.h"
#include "core/app_delegate.h"

namespace dovetrel::app {

QtPlatform::QtPlatform(BuildInfo build)
    : build_(std::move(build)), store_(SettingsFileStore::defaultPath()) {
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

QtPlatform::~QtPlatform() = default;

std::vector<Rect> QtPlatform::screenFrames() {
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

double QtPlatform::now() {
    // Counts time asleep, and setting the clock does not move it.
    timespec time{};
    clock_gettime(CLOCK_BOOTTIME, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

TimerRef QtPlatform::scheduleTimer(double interval, bool repeats, std::function<void()> block) {
    return runLoop_.scheduleTimer(interval, repeats, std::move(block));
}

void QtPlatform::dispatchAsync(std::function<void()> block) {
    RunLoop::dispatchAsync(std::move(block));
}

void QtPlatform::dispatchAfter(double delay, std::function<void()> block) {
    RunLoop::dispatchAfter(delay, std::move(block));
}

bool QtPlatform::isScreenLockedOrBlanked() {
    return notifications().isScreenLockedOrBlanked();
}

std::shared_ptr<StatusItem> QtPlatform::createStatusItem(StatusItemHandlers handlers) {
    return std::make_shared<TrayStatusItem>(
        std::move(handlers), [this](bool tracking) { runLoop_.setTrackingMenu(tracking); });
}

std::shared_ptr<SettingsWindow> QtPlatform::createSettingsWindow(
    std::function<void(const SettingsWindow*)> windowWillClose) {
    return std::make_shared<SettingsWindowWidget>(*this, std::move(windowWillClose));
}

void QtPlatform::addWorkspaceObserver(WorkspaceNotification name, std::function<void()> handler) {
    notifications();
    workspaceObservers_.emplace_back(name, std::move(handler));
}

void QtPlatform::addDistributedObserver(const std::string& name, std::function<void()> handler) {
    notifications();
    distributedObservers_.emplace_back(name, std::move(handler));
}

DesktopNotifications& QtPlatform::notifications() {
    if (!notifications_) {
        notifications_ = std::make_unique<DesktopNotifications>(
            [this](WorkspaceNotification name) { notifyWorkspace(name); },
            [this] { notifyDistributed(kScreenIsLockedNotification); });
    }
    return *notifications_;
}

void QtPlatform::notifyWorkspace(WorkspaceNotification name) {
    for (const auto& [observed, handler] : workspaceObservers_) {
        if (observed == name) {
            handler();
        }
    }
}

void QtPlatform::notifyDistributed(const std::string& name) {
    for (const auto& [observed, handler] : distributedObservers_) {
        if (observed == name) {
            handler();
        }
    }
}

std::optional<std::string> QtPlatform::bundleVersion() {
    if (build_.buildNumber.empty()) {
        return std::nullopt;
    }
    return build_.buildNumber;
}

std::string QtPlatform::releaseFeedURL() {
    return build_.releaseFeedURL;
}

void QtPlatform::httpGet(const HttpRequest& request,
                         std::function<void(std::optional<std::string>)> completion) {
    feed_.get(request, std::move(completion));
}

void QtPlatform::openUrl(const std::string& url) {
    QDesktopServices::openUrl(QUrl(QString::fromStdString(url)));
}

bool QtPlatform::registerLoginItem() {
    return registerAutostart(QCoreApplication::applicationFilePath());
}

bool QtPlatform::unregisterLoginItem() {
    return unregisterAutostart();
}

void QtPlatform::setActivationPolicy(ActivationPolicy /*policy*/) {
    // No X11 meaning: a program is not hidden from or shown in a dock by policy.
}

void QtPlatform::activateIgnoringOtherApps() {}

void QtPlatform::terminate() {
    QCoreApplication::quit();
}

}  // namespace dovetrel::app
