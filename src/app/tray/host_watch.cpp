#include "app/tray/host_watch.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <chrono>
#include <utility>

#include "app/x11/connection.h"

namespace dovetrel::app {
namespace {

using namespace std::chrono_literals;

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
// Started before the panel (at login), the icon waits this long for a tray host to appear.
constexpr auto kHostWait = 5s;
constexpr auto kHostPollInterval = 200ms;

// Whether an XEmbed tray manager runs.
bool xembedTrayRuns() {
    return screenSelectionHasOwner("_NET_SYSTEM_TRAY_S");
}

}  // namespace

TrayHostWait::TrayHostWait(std::function<void()> createIcon)
    : createIcon_(std::move(createIcon)), hostDeadline_(kHostWait) {
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        watcherWatch_ = std::make_unique<QDBusServiceWatcher>(
            kWatcherService, bus, QDBusServiceWatcher::WatchForRegistration);
        connect(watcherWatch_.get(), &QDBusServiceWatcher::serviceRegistered, this,
                [this] { askWatcherForHost(); });
    }
    connect(&hostPoll_, &QTimer::timeout, this, [this] { checkForHost(); });
    hostPoll_.start(kHostPollInterval);
    // The core finishes building its menu and image before the icon appears.
    QTimer::singleShot(0, this, [this] { checkForHost(); });
}

TrayHostWait::~TrayHostWait() = default;

void TrayHostWait::checkForHost() {
    if (finished_) {
        return;
    }
    if (xembedTrayRuns() || hostDeadline_.hasExpired()) {
        finish();
        return;
    }
    askWatcherForHost();
}

// Qt goes for StatusNotifierItem only when the watcher reports a registered host.
void TrayHostWait::askWatcherForHost() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (finished_ || !bus.isConnected()) {
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    get.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(get), this);
    connect(pending, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *call;
                if (!finished_ && reply.isValid() && reply.value().variant().toBool()) {
                    finish();
                }
            });
}

void TrayHostWait::finish() {
    finished_ = true;
    hostPoll_.stop();
    watcherWatch_.reset();
    createIcon_();
}

}  // namespace dovetrel::app
