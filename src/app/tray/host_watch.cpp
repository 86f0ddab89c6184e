#include "app/tray/host_watch.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>
#include <QGuiApplication>
#include <chrono>
#include <cstdio>
#include <utility>

#include "app/x11/connection.h"

namespace dovetrel::app {
namespace {

using namespace std::chrono_literals;

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
// Started before the panel (at login), the icon waits this long for a tray host to appear.
constexpr auto kFirstWait = 5s;
constexpr auto kFirstPollInterval = 200ms;
// Afterwards, how often an XEmbed tray is looked for while the icon has no host.
constexpr auto kLaterPollInterval = 1s;

// Whether an XEmbed tray manager runs.
bool xembedTrayRuns() {
    return screenSelectionHasOwner("_NET_SYSTEM_TRAY_S");
}

// Without an X display no XEmbed tray can show the icon (Qt on Wayland would only complain
// when asked for one): the bus alone tells of a host.
bool canEmbed() {
    return QGuiApplication::platformName() == QLatin1String("xcb");
}

}  // namespace

TrayHostWatch::TrayHostWatch(std::function<void(Host)> use)
    : use_(std::move(use)), firstDeadline_(kFirstWait) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        watcherWatch_.setConnection(bus);
        watcherWatch_.addWatchedService(kWatcherService);
        connect(&watcherWatch_, &QDBusServiceWatcher::serviceRegistered, this,
                [this] { askWatcherForHost(); });
        connect(&watcherWatch_, &QDBusServiceWatcher::serviceUnregistered, this,
                [this] { hostRegistered(false); });
        // A watcher that takes the name over from another in one step is neither registered
        // nor unregistered, yet knows nothing of the item: its answer counts as a new host.
        connect(&watcherWatch_, &QDBusServiceWatcher::serviceOwnerChanged, this,
                [this](const QString&, const QString& before, const QString& after) {
                    if (!before.isEmpty() && !after.isEmpty()) {
                        hostRegistered_ = false;
                        askWatcherForHost();
                    }
                });
        for (const char* signal :
             {"StatusNotifierHostRegistered", "StatusNotifierHostUnregistered"}) {
            bus.connect(QString(), kWatcherPath, kWatcherService, QLatin1String(signal), this,
                        SLOT(askWatcherForHost()));
        }
    }
    connect(&poll_, &QTimer::timeout, this, [this] {
        askWatcherForHost();
        decide();
    });
    poll_.start(kFirstPollInterval);
    // The core finishes building its menu and image before the icon appears.
    QTimer::singleShot(0, this, [this] {
        askWatcherForHost();
        decide();
    });
}

TrayHostWatch::~TrayHostWatch() = default;

void TrayHostWatch::askWatcherForHost() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
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
                hostRegistered(reply.isValid() && reply.value().variant().toBool());
            });
}

void TrayHostWatch::hostRegistered(bool registered) {
    const bool appeared = registered && !hostRegistered_;
    hostRegistered_ = registered;
    hostKnown_ = true;
    if (appeared) {
        // Each new host (or its watcher) must hear of the item again.
        current_ = Host::StatusNotifier;
        use_(Host::StatusNotifier);
    }
    decide();
}

void TrayHostWatch::decide() {
    // Qt's tray icon exports itself as a StatusNotifierItem when a host is registered at the
    // moment it is made: the XEmbed icon waits for the bus's first answer.
    if (!current_ && !hostKnown_ && QDBusConnection::sessionBus().isConnected() &&
        !firstDeadline_.hasExpired()) {
        return;
    }
    std::optional<Host> next = current_;
    if (hostRegistered_) {
        next = Host::StatusNotifier;
    } else if (canEmbed() && current_ != Host::XEmbed &&
               (xembedTrayRuns() || (!current_ && firstDeadline_.hasExpired()))) {
        next = Host::XEmbed;
    }
    if (next != current_) {
        current_ = next;
        use_(*next);
    }
    if (!current_ && !canEmbed() && firstDeadline_.hasExpired() && !saidNoHost_) {
        saidNoHost_ = true;
        std::fprintf(stderr,
                     "dovetrel: no panel shows tray icons here (no StatusNotifierItem host); the "
                     "icon appears when one starts. Start dovetrel again to open its settings.\n");
    }
    // Polled only while no host shows the icon: during the first wait, and while a status
    // notifier host is gone where an XEmbed tray may come.
    if (current_ == Host::XEmbed || hostRegistered_ ||
        (!canEmbed() && firstDeadline_.hasExpired())) {
        poll_.stop();
    } else if (current_) {
        poll_.start(kLaterPollInterval);
    }
}

}  // namespace dovetrel::app
