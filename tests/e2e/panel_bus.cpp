#include "e2e/panel_bus.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDBusVariant>
#include <QFile>
#include <QStringList>
#include <stdexcept>

namespace dovetrel::e2e {
using namespace support;
namespace {

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

// Says that a host is registered, so that Qt programs export their tray icon as a
// StatusNotifierItem, and lists the items that register.
class Watcher : public QDBusVirtualObject {
  public:
    explicit Watcher(QStringList& items) : items_(items) {}

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
            QVariant value = true;
            if (name == QLatin1String("RegisteredStatusNotifierItems")) {
                value = items_;
            } else if (name != QLatin1String("IsStatusNotifierHostRegistered")) {
                return false;
            }
            return connection.send(message.createReply(QVariant::fromValue(QDBusVariant(value))));
        }
        if (message.member() == QLatin1String("RegisterStatusNotifierItem") &&
            arguments.size() == 1) {
            // The argument is a bus name (the item is at /StatusNotifierItem) or an object
            // path on the caller's connection.
            const QString argument = arguments.at(0).toString();
            items_.append(argument.startsWith(QLatin1Char('/'))
                              ? message.service() + argument
                              : argument + QStringLiteral("/StatusNotifierItem"));
            return connection.send(message.createReply());
        }
        return false;
    }

  private:
    QStringList& items_;
};

MenuNode readNode(const QDBusArgument& argument) {
    MenuNode node;
    argument.beginStructure();
    argument >> node.id >> node.properties;
    argument.beginArray();
    while (!argument.atEnd()) {
        QDBusVariant child;
        argument >> child;
        node.children.push_back(readNode(child.variant().value<QDBusArgument>()));
    }
    argument.endArray();
    argument.endStructure();
    return node;
}

}  // namespace

// --- MenuNode

std::string MenuNode::label() const {
    return properties.value(QStringLiteral("label")).toString().toStdString();
}

std::vector<std::string> MenuNode::labels() const {
    std::vector<std::string> result;
    for (const auto& child : children) {
        const bool separator =
            child.properties.value(QStringLiteral("type")).toString() == "separator";
        result.push_back(separator ? "-" : child.label());
    }
    return result;
}

const MenuNode& MenuNode::child(const std::string& label) const {
    for (const auto& node : children) {
        if (node.label() == label) {
            return node;
        }
    }
    ADD_FAILURE() << "no item " << label;
    static const MenuNode none;
    return none;
}

bool MenuNode::checked() const {
    return properties.value(QStringLiteral("toggle-state")).toInt() == 1;
}

std::string MenuNode::shortcut() const {
    const auto argument = properties.value(QStringLiteral("shortcut")).value<QDBusArgument>();
    std::vector<QStringList> shortcuts;
    argument.beginArray();
    while (!argument.atEnd()) {
        argument >> shortcuts.emplace_back();
    }
    argument.endArray();
    return shortcuts.empty() ? "" : shortcuts.front().join(QLatin1Char('+')).toStdString();
}

// --- PanelBus

PanelBus::PanelBus() : address_("unix:path=" + folder_.filePath("bus").toStdString()) {
    // QtDBus needs an application object, and the tests have none of their own.
    ensureApplication([](int& argc, char** argv) { new QCoreApplication(argc, argv); });
    daemon_ = ChildProcess(
        {"dbus-daemon", "--session", "--nofork", "--nopidfile", "--address=" + address_}, {});
    waitFor([&] { return QFile::exists(folder_.filePath("bus")); });
    static int connections = 0;
    name_ = QStringLiteral("panel-bus-%1").arg(++connections);
    bus_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QString::fromStdString(address_), name_));
    if (!bus_->isConnected()) {
        throw std::runtime_error("cannot reach the test's session bus");
    }
}

PanelBus::~PanelBus() {
    bus_.reset();
    QDBusConnection::disconnectFromBus(name_);
}

std::string PanelBus::environment() const {
    return "DBUS_SESSION_BUS_ADDRESS=" + address_;
}

bool PanelBus::startWatcher() {
    watcher_ = std::make_unique<Watcher>(items_);
    return bus_->registerVirtualObject(QStringLiteral("/StatusNotifierWatcher"), watcher_.get()) &&
           bus_->registerService(kWatcherService);
}

void PanelBus::stopWatcher() {
    bus_->unregisterService(kWatcherService);
    bus_->unregisterObject(QStringLiteral("/StatusNotifierWatcher"));
    items_.clear();
}

bool PanelBus::findItemMenu() {
    return waitFor(
        [&] {
            if (items_.isEmpty()) {
                return false;
            }
            item_ = items_.front().left(items_.front().indexOf(QLatin1Char('/')));
            menuPath_ = itemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path();
            return !menuPath_.isEmpty();
        },
        10s);
}

QVariant PanelBus::itemProperty(const QString& name) {
    const QString path = items_.isEmpty() ? QString() : items_.front().mid(item_.size());
    QDBusMessage get = QDBusMessage::createMethodCall(
        item_, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << QStringLiteral("org.kde.StatusNotifierItem") << name;
    const QDBusReply<QDBusVariant> reply = bus_->call(get);
    return reply.value().variant();
}

MenuNode PanelBus::layout() {
    const QDBusMessage reply = call(QStringLiteral("GetLayout"), {0, -1, QStringList()});
    if (reply.arguments().size() != 2) {
        ADD_FAILURE() << "GetLayout: " << reply.errorMessage().toStdString();
        return {};
    }
    return readNode(reply.arguments().at(1).value<QDBusArgument>());
}

MenuNode PanelBus::openMenu() {
    call(QStringLiteral("AboutToShow"), {0});
    return layout();
}

void PanelBus::click(const MenuNode& node) {
    call(QStringLiteral("Event"),
         {node.id, QStringLiteral("clicked"), QVariant::fromValue(QDBusVariant(0)), 0u});
}

void PanelBus::emitSignal(const QString& path, const QString& interface, const QString& member,
                          bool value) {
    QDBusMessage signal = QDBusMessage::createSignal(path, interface, member);
    signal << value;
    bus_->send(signal);
}

QDBusMessage PanelBus::call(const QString& method, const QVariantList& arguments) {
    QDBusMessage message = QDBusMessage::createMethodCall(item_, menuPath_, kMenuInterface, method);
    message.setArguments(arguments);
    return bus_->call(message);
}

}  // namespace dovetrel::e2e
