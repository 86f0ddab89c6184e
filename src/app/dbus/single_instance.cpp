#include "app/dbus/single_instance.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <cstdio>

namespace dovetrel::app {
namespace {

const QString kName = QStringLiteral("app.dovetrel.Dovetrel");
const QString kPath = QStringLiteral("/app/dovetrel/Dovetrel");
// How long a later start waits for the owner to answer.
constexpr int kAnswerTimeout = 5000;  // milliseconds

}  // namespace

std::optional<int> BusSingleInstance::claimOrHandOver() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected() || bus.interface() == nullptr) {
        return std::nullopt;
    }
    // Exported before the claim, so that a request coming right after it is answered.
    bus.registerObject(kPath, this, QDBusConnection::ExportAllSlots);
    const auto claimed =
        bus.interface()->registerService(kName, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (claimed.isValid() && claimed.value() == QDBusConnectionInterface::ServiceRegistered) {
        return std::nullopt;
    }
    bus.unregisterObject(kPath);
    const QDBusMessage reply = bus.call(
        QDBusMessage::createMethodCall(kName, kPath, kName, QStringLiteral("OpenSettings")),
        QDBus::Block, kAnswerTimeout);
    if (reply.type() == QDBusMessage::ReplyMessage) {
        std::fprintf(stderr,
                     "dovetrel: already running in this session; opened its Settings window\n");
        return 0;
    }
    std::fprintf(stderr, "dovetrel: another Dovetrel holds this session and does not answer\n");
    return 1;
}

void BusSingleInstance::OpenSettings() {
    if (handler_) {
        handler_();
    }
}

}  // namespace dovetrel::app
