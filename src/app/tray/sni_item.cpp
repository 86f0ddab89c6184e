#include "app/tray/sni_item.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QtEndian>
#include <utility>

namespace dovetrel::app {
namespace {

const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");

// (iiay): width, height and ARGB32 pixels in network byte order.
struct IconPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
};

// (sa(iiay)ss): icon name, icon pixmaps, title, text.
struct ToolTip {
    QString title;
};

}  // namespace
}  // namespace dovetrel::app

Q_DECLARE_METATYPE(dovetrel::app::IconPixmap)
Q_DECLARE_METATYPE(dovetrel::app::ToolTip)

namespace dovetrel::app {
namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const IconPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

// Only sent, never read: QtDBus asks for both directions.
const QDBusArgument& operator>>(const QDBusArgument& argument, IconPixmap&) {
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const ToolTip& tip) {
    argument.beginStructure();
    argument << QString() << QList<IconPixmap>() << tip.title << QString();
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, ToolTip&) {
    return argument;
}

QList<IconPixmap> iconPixmaps(const QList<QImage>& images) {
    QList<IconPixmap> pixmaps;
    for (const QImage& image : images) {
        const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
        IconPixmap pixmap{argb.width(), argb.height(), {}};
        pixmap.bytes.resize(qsizetype(argb.width()) * argb.height() * 4);
        auto* out = reinterpret_cast<quint32*>(pixmap.bytes.data());
        for (int y = 0; y < argb.height(); ++y) {
            const auto* line = reinterpret_cast<const quint32*>(argb.constScanLine(y));
            for (int x = 0; x < argb.width(); ++x) {
                *out++ = qToBigEndian(line[x]);
            }
        }
        pixmaps << pixmap;
    }
    return pixmaps;
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(QMenu& menu, std::function<void(QPoint)> popUp,
                                       std::function<void()> menuAboutToShow)
    : service_(QStringLiteral("org.kde.StatusNotifierItem-%1-1")
                   .arg(QCoreApplication::applicationPid())),
      popUp_(std::move(popUp)),
      menuExport_(menu, std::move(menuAboutToShow)) {
    static const bool registered = [] {
        qDBusRegisterMetaType<IconPixmap>();
        qDBusRegisterMetaType<QList<IconPixmap>>();
        qDBusRegisterMetaType<ToolTip>();
        return true;
    }();
    Q_UNUSED(registered);
}

StatusNotifierItem::~StatusNotifierItem() {
    if (published_) {
        // The watcher drops the item when its name goes.
        QDBusConnection bus = QDBusConnection::sessionBus();
        bus.unregisterService(service_);
        bus.unregisterObject(kItemPath);
        bus.unregisterObject(DBusMenuExport::kPath);
    }
}

bool StatusNotifierItem::publish() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    published_ = bus.isConnected() && bus.registerVirtualObject(kItemPath, this) &&
                 bus.registerVirtualObject(DBusMenuExport::kPath, &menuExport_) &&
                 bus.registerService(service_);
    return published_;
}

void StatusNotifierItem::registerWithWatcher() {
    if (!published_) {
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.kde.StatusNotifierWatcher"), QStringLiteral("/StatusNotifierWatcher"),
        QStringLiteral("org.kde.StatusNotifierWatcher"),
        QStringLiteral("RegisterStatusNotifierItem"));
    call << service_;
    call.setAutoStartService(false);
    QDBusConnection::sessionBus().asyncCall(call);
}

void StatusNotifierItem::setIcon(const QString& name, const QString& themePath,
                                 const QList<QImage>& pixmaps) {
    iconName_ = name;
    themePath_ = themePath;
    pixmaps_ = pixmaps;
    if (published_) {
        QDBusConnection::sessionBus().send(
            QDBusMessage::createSignal(kItemPath, kItemInterface, QStringLiteral("NewIcon")));
    }
}

void StatusNotifierItem::menuChanged() {
    if (published_) {
        menuExport_.menuChanged(QDBusConnection::sessionBus());
    }
}

QVariantMap StatusNotifierItem::properties() const {
    return {{QStringLiteral("Category"), QStringLiteral("ApplicationStatus")},
            {QStringLiteral("Id"), QStringLiteral("dovetrel")},
            {QStringLiteral("Title"), QStringLiteral("Dovetrel")},
            {QStringLiteral("Status"), QStringLiteral("Active")},
            {QStringLiteral("WindowId"), 0},
            {QStringLiteral("IconThemePath"), themePath_},
            {QStringLiteral("IconName"), iconName_},
            {QStringLiteral("IconPixmap"), QVariant::fromValue(iconPixmaps(pixmaps_))},
            {QStringLiteral("OverlayIconName"), QString()},
            {QStringLiteral("OverlayIconPixmap"), QVariant::fromValue(QList<IconPixmap>())},
            {QStringLiteral("AttentionIconName"), QString()},
            {QStringLiteral("AttentionIconPixmap"), QVariant::fromValue(QList<IconPixmap>())},
            {QStringLiteral("AttentionMovieName"), QString()},
            {QStringLiteral("ToolTip"), QVariant::fromValue(ToolTip{QStringLiteral("Dovetrel")})},
            // The item is its menu: a host shows the exported menu on any click.
            {QStringLiteral("ItemIsMenu"), true},
            {QStringLiteral("Menu"), QVariant::fromValue(QDBusObjectPath(DBusMenuExport::kPath))}};
}

QString StatusNotifierItem::introspect(const QString&) const {
    return QStringLiteral(R"xml(
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Activate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg name="x" type="i" direction="in"/><arg name="y" type="i" direction="in"/></method>
    <method name="Scroll"><arg name="delta" type="i" direction="in"/><arg name="orientation" type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg name="status" type="s"/></signal>
  </interface>)xml");
}

bool StatusNotifierItem::handleMessage(const QDBusMessage& message,
                                       const QDBusConnection& connection) {
    const QString member = message.member();
    const QVariantList arguments = message.arguments();
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
        return answerPropertiesCall(message, connection, properties());
    }
    if (member == QLatin1String("Activate") || member == QLatin1String("ContextMenu")) {
        if (arguments.size() == 2 && popUp_) {
            popUp_(QPoint(arguments.at(0).toInt(), arguments.at(1).toInt()));
        }
    } else if (member != QLatin1String("SecondaryActivate") && member != QLatin1String("Scroll")) {
        return false;
    }
    return connection.send(message.createReply());
}

}  // namespace dovetrel::app
