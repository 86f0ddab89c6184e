// A stand-in for a panel on the session bus: a StatusNotifierWatcher that says a host is
// registered, so that Qt programs export their tray icon as a StatusNotifierItem, and that
// lists the items registered with it in RegisteredStatusNotifierItems ("service/path").
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QStringList>
#include <cstdio>

namespace {

const QString kService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kPath = QStringLiteral("/StatusNotifierWatcher");

class Watcher : public QDBusVirtualObject {
  public:
    // Qt reads the watcher through a QDBusInterface, which is built from this description.
    QString introspect(const QString&) const override {
        return QStringLiteral(R"(
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  </interface>)");
    }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        const QVariantList arguments = message.arguments();
        if (message.member() == QLatin1String("Get") && arguments.size() == 2) {
            const QString name = arguments.at(1).toString();
            QVariant value;
            if (name == QLatin1String("RegisteredStatusNotifierItems")) {
                value = items_;
            } else if (name == QLatin1String("IsStatusNotifierHostRegistered")) {
                value = true;
            } else {
                return false;
            }
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
            return true;
        }
        if (message.member() == QLatin1String("RegisterStatusNotifierItem") &&
            arguments.size() == 1) {
            // The argument is a bus name (the item is at /StatusNotifierItem) or an object
            // path on the caller's connection.
            const QString argument = arguments.at(0).toString();
            items_.append(argument.startsWith(QLatin1Char('/'))
                              ? message.service() + argument
                              : argument + QStringLiteral("/StatusNotifierItem"));
            connection.send(message.createReply());
            return true;
        }
        return false;
    }

  private:
    QStringList items_;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    QDBusConnection bus = QDBusConnection::sessionBus();
    Watcher watcher;
    if (!bus.isConnected() || !bus.registerVirtualObject(kPath, &watcher) ||
        !bus.registerService(kService)) {
        std::fprintf(stderr, "sni_watcher_stub: cannot serve %s on the session bus\n",
                     qPrintable(kService));
        return 1;
    }
    return QCoreApplication::exec();
}
