#include "app/dbus/screen_savers.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace dovetrel::app {
namespace {

// Screen savers that announce blanking and locking with ActiveChanged(bool), whatever object
// they put it on (KDE uses both /ScreenSaver and /org/freedesktop/ScreenSaver).
const char* const kScreenSaverInterfaces[] = {
    "org.freedesktop.ScreenSaver", "org.gnome.ScreenSaver", "org.cinnamon.ScreenSaver",
    "org.mate.ScreenSaver",        "org.xfce.ScreenSaver",
};

}  // namespace

ScreenSavers::ScreenSavers(std::function<void()> onLocked, QObject* parent)
    : QObject(parent), onLocked_(std::move(onLocked)) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return;
    }
    for (const char* interface : kScreenSaverInterfaces) {
        bus.connect(QString(), QString(), QString::fromLatin1(interface),
                    QStringLiteral("ActiveChanged"), this, SLOT(activeChanged(bool)));
    }
    // A program started while the screen is locked hears no change; ask the two common
    // services once, without starting either.
    for (const auto& [service, path] :
         {std::pair{"org.freedesktop.ScreenSaver", "/org/freedesktop/ScreenSaver"},
          std::pair{"org.gnome.ScreenSaver", "/org/gnome/ScreenSaver"}}) {
        QDBusMessage get = QDBusMessage::createMethodCall(
            QString::fromLatin1(service), QString::fromLatin1(path), QString::fromLatin1(service),
            QStringLiteral("GetActive"));
        get.setAutoStartService(false);
        auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(get), this);
        connect(watcher, &QDBusPendingCallWatcher::finished, this,
                [this](QDBusPendingCallWatcher* finished) {
                    finished->deleteLater();
                    const QDBusPendingReply<bool> reply = *finished;
                    if (reply.isValid() && reply.value()) {
                        active_ = true;
                    }
                });
    }
}

void ScreenSavers::activeChanged(bool active) {
    active_ = active;
    if (active) {
        onLocked_();
    }
}

}  // namespace dovetrel::app
