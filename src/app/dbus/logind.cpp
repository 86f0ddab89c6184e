#include "app/dbus/logind.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusVariant>

namespace dovetrel::app {
namespace {

const QString kLogindService = QStringLiteral("org.freedesktop.login1");
const QString kManagerPath = QStringLiteral("/org/freedesktop/login1");
const QString kManagerInterface = QStringLiteral("org.freedesktop.login1.Manager");
const QString kSessionInterface = QStringLiteral("org.freedesktop.login1.Session");
const QString kPropertiesInterface = QStringLiteral("org.freedesktop.DBus.Properties");

}  // namespace

Logind::Logind(std::function<void(WorkspaceNotification)> onWorkspace,
               std::function<void()> onLocked, QObject* parent)
    : QObject(parent), onWorkspace_(std::move(onWorkspace)), onLocked_(std::move(onLocked)) {
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        return;
    }
    bus.connect(kLogindService, kManagerPath, kManagerInterface, QStringLiteral("PrepareForSleep"),
                this, SLOT(prepareForSleep(bool)));
    const QString sessionId = qEnvironmentVariable("XDG_SESSION_ID");
    if (!sessionId.isEmpty()) {
        findSession(QStringLiteral("GetSession"), sessionId, true);
    } else {
        findSessionOfThisProcess();
    }
}

void Logind::prepareForSleep(bool start) {
    onWorkspace_(start ? WorkspaceNotification::screensDidSleep : WorkspaceNotification::didWake);
}

void Logind::sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                      const QStringList& /*invalidated*/) {
    if (interface != kSessionInterface) {
        return;
    }
    // A property can be announced again without changing; only the turn counts.
    if (const auto active = changed.find(QStringLiteral("Active")); active != changed.end()) {
        const bool isActive = active->toBool();
        if (!isActive && sessionActive_ != false) {
            onWorkspace_(WorkspaceNotification::sessionDidResignActive);
        }
        sessionActive_ = isActive;
    }
    if (const auto locked = changed.find(QStringLiteral("LockedHint")); locked != changed.end()) {
        const bool isLocked = locked->toBool();
        if (isLocked && sessionLocked_ != true) {
            onLocked_();
        }
        sessionLocked_ = isLocked;
    }
}

void Logind::findSessionOfThisProcess() {
    findSession(QStringLiteral("GetSessionByPID"),
                static_cast<uint>(QCoreApplication::applicationPid()), false);
}

// Asks logind for our session's object and follows its properties; a process outside any
// session (started by a service manager) falls back from the session id to its pid.
void Logind::findSession(const QString& method, const QVariant& argument, bool fallBackToPid) {
    QDBusMessage call =
        QDBusMessage::createMethodCall(kLogindService, kManagerPath, kManagerInterface, method);
    call << argument;
    auto* watcher = new QDBusPendingCallWatcher(QDBusConnection::systemBus().asyncCall(call), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, fallBackToPid](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusObjectPath> reply = *finished;
                if (reply.isValid()) {
                    followSession(reply.value().path());
                } else if (fallBackToPid) {
                    findSessionOfThisProcess();
                }
            });
}

void Logind::followSession(const QString& path) {
    QDBusConnection bus = QDBusConnection::systemBus();
    bus.connect(kLogindService, path, kPropertiesInterface, QStringLiteral("PropertiesChanged"),
                this, SLOT(sessionPropertiesChanged(QString, QVariantMap, QStringList)));
    QDBusMessage get = QDBusMessage::createMethodCall(kLogindService, path, kPropertiesInterface,
                                                      QStringLiteral("Get"));
    get << kSessionInterface << QStringLiteral("LockedHint");
    auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get), this);
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this](QDBusPendingCallWatcher* finished) {
                finished->deleteLater();
                const QDBusPendingReply<QDBusVariant> reply = *finished;
                // A change announced meanwhile is newer than this answer.
                if (reply.isValid() && !sessionLocked_) {
                    sessionLocked_ = reply.value().variant().toBool();
                }
            });
}

}  // namespace dovetrel::app
