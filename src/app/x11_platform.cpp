#include "app/x11_platform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QCursor>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QScreen>
#include <QTimer>
#include <QUrl>
#include <QWindow>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>
#include <utility>

#include "app/qt/autostart.h"
#include "app/qt/screen_geometry.h"
#include "app/tray/status_item.h"
#include "app/ui/overlay_surface.h"
#include "app/ui/settings/settings_window.h"
#include "app/x11/connection.h"
#include "app/x11/input/click_guard.h"
#include "app/x11/input/input_monitor.h"
#include "app/x11/xlib.h"
#include "core/app_delegate.h"
#include "core/update_check.h"

namespace dovetrel::app {
namespace {

// A delay in whole milliseconds as QTimer takes it (an int): rounded, and held within
// 0 .. INT_MAX (about 24.8 days) rather than narrowed, which would wrap a long delay to a
// short one. NaN counts as no delay.
std::chrono::milliseconds timerMilliseconds(double seconds) {
    constexpr double kLongest = std::numeric_limits<int>::max();
    const double milliseconds = seconds * 1000.0;
    if (!(milliseconds > 0)) {
        return std::chrono::milliseconds(0);
    }
    if (milliseconds >= kLongest) {
        return std::chrono::milliseconds(std::numeric_limits<int>::max());
    }
    return std::chrono::milliseconds(std::llround(milliseconds));
}

}  // namespace

// A run-loop timer on a QTimer. It fires in the default mode only: while a menu of ours is
// open, a due firing waits and runs when the menu closes.
class QtTimer : public Timer, public std::enable_shared_from_this<QtTimer> {
  public:
    QtTimer(X11Platform& platform, double interval, bool repeats, std::function<void()> block)
        : platform_(platform), repeats_(repeats), block_(std::move(block)) {
        timer_.setTimerType(Qt::PreciseTimer);
        timer_.setSingleShot(!repeats);
        timer_.setInterval(timerMilliseconds(interval));
        QObject::connect(&timer_, &QTimer::timeout, [this] { timeout(); });
    }

    void start() { timer_.start(); }

    void invalidate() override {
        if (!valid_) {
            return;
        }
        valid_ = false;
        waiting_ = false;
        timer_.stop();
        platform_.timerFinished(this);
    }

    bool isValid() const override { return valid_; }

    // Runs a firing that waited for a menu to close.
    void fireWaiting() {
        if (valid_ && waiting_) {
            waiting_ = false;
            fire();
        }
    }

  private:
    void timeout() {
        if (platform_.isTrackingMenu()) {
            if (!waiting_) {
                waiting_ = true;
                platform_.timerWaiting(this);
            }
            return;
        }
        fire();
    }

    void fire() {
        // Keep this timer alive through its block, which may drop the last reference.
        const auto self = shared_from_this();
        if (!repeats_) {
            valid_ = false;
            platform_.timerFinished(this);
        }
        const auto block = block_;
        block();
    }

    X11Platform& platform_;
    QTimer timer_;
    bool repeats_;
    bool valid_ = true;
    bool waiting_ = false;
    std::function<void()> block_;
};

X11Platform::X11Platform(BuildInfo build)
    : build_(std::move(build)), store_(SettingsFileStore::defaultPath()) {
    // Presses are judged off the main thread from a snapshot of the state; renew it whenever
    // something it holds may have changed.
    store_.addChangeObserver([this] { refreshClickGuard(); });
    const auto* application = qGuiApp;
    QObject::connect(application, &QGuiApplication::primaryScreenChanged, application,
                     [this] { refreshClickGuard(); });
    QObject::connect(application, &QGuiApplication::screenAdded, application,
                     [this](QScreen* screen) {
                         QObject::connect(screen, &QScreen::geometryChanged, qGuiApp,
                                          [this] { refreshClickGuard(); });
                         refreshClickGuard();
                     });
    for (QScreen* screen : QGuiApplication::screens()) {
        QObject::connect(screen, &QScreen::geometryChanged, application,
                         [this] { refreshClickGuard(); });
    }
}

void X11Platform::refreshClickGuard() {
    if (const auto guard = clickGuard_.lock()) {
        guard->refreshSnapshot();
    }
}

X11Platform::~X11Platform() = default;

void X11Platform::setTrackingMenu(bool tracking) {
    trackingMenu_ = tracking;
    if (tracking) {
        return;
    }
    auto waiting = std::move(waitingTimers_);
    waitingTimers_.clear();
    for (const auto& weak : waiting) {
        if (const auto timer = weak.lock()) {
            timer->fireWaiting();
        }
    }
}

void X11Platform::timerFinished(QtTimer* timer) {
    std::erase_if(liveTimers_, [timer](const auto& live) { return live.get() == timer; });
}

void X11Platform::timerWaiting(QtTimer* timer) {
    waitingTimers_.push_back(timer->weak_from_this());
}

double X11Platform::now() {
    // Counts time asleep, and setting the clock does not move it.
    timespec time{};
    clock_gettime(CLOCK_BOOTTIME, &time);
    return double(time.tv_sec) + double(time.tv_nsec) / 1e9;
}

TimerRef X11Platform::scheduleTimer(double interval, bool repeats, std::function<void()> block) {
    auto timer = std::make_shared<QtTimer>(*this, interval, repeats, std::move(block));
    liveTimers_.insert(timer);
    timer->start();
    return timer;
}

void X11Platform::dispatchAsync(std::function<void()> block) {
    QMetaObject::invokeMethod(QCoreApplication::instance(), std::move(block), Qt::QueuedConnection);
}

void X11Platform::dispatchAfter(double delay, std::function<void()> block) {
    QTimer::singleShot(timerMilliseconds(delay), QCoreApplication::instance(), std::move(block));
}

std::shared_ptr<MonitorToken> X11Platform::addGlobalMonitor(uint64_t mask,
                                                            std::function<void(uint32_t)> handler) {
    monitor_ = X11InputMonitor::start(mask, std::move(handler));
    return monitor_;
}

Point X11Platform::mouseLocation() {
    const QPointF pointer = monitor_ ? monitor_->pointerPosition() : QPointF(QCursor::pos());
    return toWindowPoint(pointer, primaryScreenGeometry());
}

void X11Platform::Backoff::failed() {
    next_ = std::chrono::steady_clock::now() + delay_;
    delay_ = std::min(delay_ * 2, kLongestDelay);
}

void X11Platform::Backoff::succeeded() {
    delay_ = kFirstDelay;
    next_ = std::chrono::steady_clock::now() + kFirstDelay;
}

std::shared_ptr<EventTap> X11Platform::createEventTap(uint64_t /*eventMask*/,
                                                      EventTapHandlers handlers) {
    if (!guardRetry_.due()) {
        return nullptr;
    }
    // The grab covers exactly the presses the tap's mask names: every pointer button but
    // the wheel.
    auto guard = X11ClickGuard::create(std::move(handlers), [this]() -> std::optional<QRect> {
        return overlay_ ? windowGeometryOnRoot(overlay_->winId()) : std::nullopt;
    });
    if (guard) {
        guardRetry_.succeeded();
    } else {
        guardRetry_.failed();
    }
    clickGuard_ = guard;
    return guard;
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
    // X11 has no pointer-visibility flag; the pointer's image tells.
    return std::nullopt;
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
    return surface;
}

std::shared_ptr<StatusItem> X11Platform::createStatusItem(StatusItemHandlers handlers) {
    return std::make_shared<TrayStatusItem>(std::move(handlers),
                                            [this](bool tracking) { setTrackingMenu(tracking); });
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
    // Without its input monitor nothing tells the guard that the pointer moves: it would show
    // squares under a busy pointer. Its loss counts as a lost right, until it reconnects.
    if (monitor_ && !monitor_->isHealthy()) {
        // The first answer after the loss is no, so that the safeguard frees the clicks before
        // anything reconnects; the permission poll then brings the monitor back.
        if (!std::exchange(monitorLossAnswered_, true) || !monitorRetry_.due()) {
            return false;
        }
        if (!monitor_->reconnect()) {
            monitorRetry_.failed();
            return false;
        }
        monitorRetry_.succeeded();
        monitorLossAnswered_ = false;
    }
    // X11 asks no permission to watch and filter input: the right holds while the guard's
    // own connection to the server does. With no guard yet, being able to connect is enough.
    if (const auto guard = clickGuard_.lock()) {
        return guard->isHealthy();
    }
    if (!serverProbe_.due()) {
        return serverReachable_;
    }
    Display* qt = qtDisplay();
    Display* probe = XOpenDisplay(qt != nullptr ? DisplayString(qt) : nullptr);
    serverReachable_ = probe != nullptr;
    if (probe != nullptr) {
        XCloseDisplay(probe);
        serverProbe_.succeeded();
    } else {
        serverProbe_.failed();
    }
    return serverReachable_;
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
    if (!network_) {
        network_ = std::make_unique<QNetworkAccessManager>();
        // Each redirect is checked by the reply below.
        network_->setRedirectPolicy(QNetworkRequest::UserVerifiedRedirectPolicy);
    }
    QNetworkRequest get{QUrl(QString::fromStdString(request.url))};
    if (request.reloadIgnoringCache) {
        get.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
        get.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    }
    get.setTransferTimeout(static_cast<int>(request.timeoutSeconds * 1000));
    QNetworkReply* reply = network_->get(get);
    auto oversized = std::make_shared<bool>(false);
    // A feed is a few dozen bytes. The network thread reads ahead of us without limit unless
    // the reply's buffer is bounded; bounded just past the limit, it stops reading a larger
    // answer until we see the buffer full and abort.
    reply->setReadBufferSize(qint64(kMaximumFeedBytes) + 1);
    const auto abortWhenOversized = [reply, oversized] {
        const QVariant announced = reply->header(QNetworkRequest::ContentLengthHeader);
        if (reply->bytesAvailable() > qint64(kMaximumFeedBytes) ||
            (announced.isValid() && announced.toLongLong() > qint64(kMaximumFeedBytes))) {
            *oversized = true;
            reply->abort();
        }
    };
    QObject::connect(reply, &QNetworkReply::redirected, reply, [reply](const QUrl& to) {
        if (mayFollowFeedRedirect(reply->url().toString(QUrl::FullyEncoded).toStdString(),
                                  to.toString(QUrl::FullyEncoded).toStdString())) {
            Q_EMIT reply->redirectAllowed();
        } else {
            reply->abort();
        }
    });
    QObject::connect(reply, &QNetworkReply::metaDataChanged, reply, abortWhenOversized);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, abortWhenOversized);
    QObject::connect(reply, &QNetworkReply::finished, reply,
                     [reply, oversized, completion = std::move(completion)] {
                         reply->deleteLater();
                         const auto error = reply->error();
                         // An answer from the server (a 404 page, say) still has a body to
                         // look at; a failed connection, TLS error or time-out has none.
                         const bool answered = error == QNetworkReply::NoError ||
                                               error >= QNetworkReply::ContentAccessDenied;
                         // An aborted reply is closed: reading it would only warn.
                         const QByteArray body =
                             *oversized || !answered ? QByteArray() : reply->readAll();
                         if (body.isEmpty()) {
                             completion(std::nullopt);
                             return;
                         }
                         completion(body.toStdString());
                     });
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
