#include "app/tray/dbus_menu.h"

#include <QAction>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QHash>
#include <QKeySequence>
#include <QMenu>
#include <utility>

namespace dovetrel::app {
namespace {

const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

// One node of the layout: (ia{sv}av), its children as variants of the same.
struct MenuLayout {
    int id = 0;
    QVariantMap properties;
    QList<MenuLayout> children;
};

// (ia{sv}): one item's properties.
struct MenuItemProperties {
    int id = 0;
    QVariantMap properties;
};

}  // namespace
}  // namespace dovetrel::app

Q_DECLARE_METATYPE(dovetrel::app::MenuLayout)
Q_DECLARE_METATYPE(dovetrel::app::MenuItemProperties)

namespace dovetrel::app {
namespace {

QDBusArgument& operator<<(QDBusArgument& argument, const MenuLayout& node) {
    argument.beginStructure();
    argument << node.id << node.properties;
    argument.beginArray(QMetaType::fromType<QDBusVariant>());
    for (const MenuLayout& child : node.children) {
        argument << QDBusVariant(QVariant::fromValue(child));
    }
    argument.endArray();
    argument.endStructure();
    return argument;
}

// Only sent, never read: QtDBus asks for both directions.
const QDBusArgument& operator>>(const QDBusArgument& argument, MenuLayout&) {
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const MenuItemProperties& item) {
    argument.beginStructure();
    argument << item.id << item.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, MenuItemProperties&) {
    return argument;
}

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<MenuLayout>();
        qDBusRegisterMetaType<MenuItemProperties>();
        qDBusRegisterMetaType<QList<MenuItemProperties>>();
        qDBusRegisterMetaType<QList<QStringList>>();
        return true;
    }();
    Q_UNUSED(registered);
}

// DBusMenu marks mnemonics with '_' where Qt uses '&'.
QString dbusMenuLabel(const QString& text) {
    QString label;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c == QLatin1Char('_')) {
            label += QLatin1String("__");
        } else if (c == QLatin1Char('&') && i + 1 < text.size()) {
            const bool literal = text.at(i + 1) == QLatin1Char('&');
            label += literal ? QLatin1Char('&') : QLatin1Char('_');
            i += literal ? 1 : 0;
        } else {
            label += c;
        }
    }
    return label;
}

// A key as hosts name it: GTK hosts look the name up as an X keysym, so punctuation goes by
// its keysym's name ("comma", not ","), and a key they cannot name is not shown at all.
QString keyName(const QString& key) {
    static const std::pair<char, const char*> punctuation[] = {
        {',', "comma"},       {'.', "period"},      {'/', "slash"},        {';', "semicolon"},
        {'\'', "apostrophe"}, {'[', "bracketleft"}, {']', "bracketright"}, {'\\', "backslash"},
        {'`', "grave"},       {'=', "equal"},       {'-', "minus"},        {'+', "plus"}};
    for (const auto& [character, name] : punctuation) {
        if (key == QLatin1Char(character)) {
            return QLatin1String(name);
        }
    }
    return key;
}

// Each key as the modifiers' names and the key's own.
QList<QStringList> dbusMenuShortcut(const QKeySequence& sequence) {
    QList<QStringList> keys;
    for (int i = 0; i < sequence.count(); ++i) {
        const QKeyCombination combination = sequence[i];
        const Qt::KeyboardModifiers modifiers = combination.keyboardModifiers();
        QStringList tokens;
        const std::pair<Qt::KeyboardModifier, const char*> names[] = {
            {Qt::MetaModifier, "Super"},
            {Qt::ControlModifier, "Control"},
            {Qt::AltModifier, "Alt"},
            {Qt::ShiftModifier, "Shift"}};
        for (const auto& [modifier, name] : names) {
            if (modifiers & modifier) {
                tokens << QLatin1String(name);
            }
        }
        tokens << keyName(QKeySequence(combination.key()).toString(QKeySequence::PortableText));
        keys << tokens;
    }
    return keys;
}

}  // namespace

bool answerPropertiesCall(const QDBusMessage& message, const QDBusConnection& connection,
                          const QVariantMap& properties) {
    const QVariantList arguments = message.arguments();
    if (message.member() == QLatin1String("GetAll")) {
        return connection.send(message.createReply(QVariant(properties)));
    }
    if (message.member() == QLatin1String("Get") && arguments.size() == 2 &&
        properties.contains(arguments.at(1).toString())) {
        return connection.send(message.createReply(
            QVariant::fromValue(QDBusVariant(properties.value(arguments.at(1).toString())))));
    }
    return false;
}

DBusMenuExport::DBusMenuExport(QMenu& menu, std::function<void()> aboutToShow)
    : menu_(menu), aboutToShow_(std::move(aboutToShow)) {
    registerTypes();
}

void DBusMenuExport::menuChanged(const QDBusConnection& bus) {
    ++revision_;
    QDBusMessage signal = QDBusMessage::createSignal(DBusMenuExport::kPath, kMenuInterface,
                                                     QStringLiteral("LayoutUpdated"));
    signal << revision_ << 0;
    bus.send(signal);
}

int DBusMenuExport::idOf(QAction* action) {
    // Hosts keep an item's type, toggle type and submenu flag for as long as its id lives, so
    // an action reused for another kind of item (the menu is mirrored by position) needs a new
    // id, as does a new action at the address of one deleted since.
    const int kind = (action->isSeparator() ? 1 : 0) | (action->isCheckable() ? 2 : 0) |
                     (action->menu() != nullptr ? 4 : 0);
    const auto found = ids_.find(action);
    if (found != ids_.end() && found->second.kind == kind && actions_[found->second.id] == action) {
        return found->second.id;
    }
    if (found != ids_.end()) {
        actions_.erase(found->second.id);
    }
    const int id = nextId_++;
    ids_[action] = {id, kind};
    actions_[id] = action;
    return id;
}

QAction* DBusMenuExport::actionOf(int id) const {
    const auto found = actions_.find(id);
    return found == actions_.end() ? nullptr : found->second.data();
}

QVariantMap DBusMenuExport::propertiesOf(const QAction* action, const QStringList& names) const {
    QVariantMap properties;
    if (action == nullptr) {
        properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
    } else if (action->isSeparator()) {
        properties.insert(QStringLiteral("type"), QStringLiteral("separator"));
    } else {
        properties.insert(QStringLiteral("label"), dbusMenuLabel(action->text()));
        // Sent whatever their value: hosts update only the keys they are sent.
        properties.insert(QStringLiteral("enabled"), action->isEnabled());
        if (action->isCheckable()) {
            properties.insert(QStringLiteral("toggle-type"), QStringLiteral("checkmark"));
            properties.insert(QStringLiteral("toggle-state"), action->isChecked() ? 1 : 0);
        }
        if (action->menu() != nullptr) {
            properties.insert(QStringLiteral("children-display"), QStringLiteral("submenu"));
        }
        if (!action->shortcut().isEmpty()) {
            properties.insert(QStringLiteral("shortcut"),
                              QVariant::fromValue(dbusMenuShortcut(action->shortcut())));
        }
    }
    if (action != nullptr) {
        properties.insert(QStringLiteral("visible"), action->isVisible());
    }
    if (!names.isEmpty()) {
        for (auto it = properties.begin(); it != properties.end();) {
            it = names.contains(it.key()) ? std::next(it) : properties.erase(it);
        }
    }
    return properties;
}

QVariant DBusMenuExport::layoutOf(int id, int depth, const QStringList& names) {
    QAction* action = actionOf(id);
    MenuLayout node{id, propertiesOf(action, names), {}};
    QMenu* menu = id == 0 ? &menu_ : action != nullptr ? action->menu() : nullptr;
    if (menu != nullptr && depth != 0) {
        for (QAction* child : menu->actions()) {
            node.children << layoutOf(idOf(child), depth - 1, names).value<MenuLayout>();
        }
    }
    return QVariant::fromValue(node);
}

// Triggered later, as a click in a menu of our own would be: the host gets its answer first,
// and the choice may change the menu.
void DBusMenuExport::trigger(int id, const QString& event) {
    QPointer<QAction> action = actionOf(id);
    if (event != QLatin1String("clicked") || action.isNull() || !action->isEnabled() ||
        action->menu() != nullptr) {
        return;
    }
    QMetaObject::invokeMethod(
        action.data(),
        [action] {
            if (action) {
                action->trigger();
            }
        },
        Qt::QueuedConnection);
}

QString DBusMenuExport::introspect(const QString&) const {
    return QStringLiteral(R"xml(
  <interface name="com.canonical.dbusmenu">
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps"/>
      <arg type="a(ias)" name="removedProps"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision"/>
      <arg type="i" name="parent"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id"/>
      <arg type="u" name="timestamp"/>
    </signal>
  </interface>)xml");
}

bool DBusMenuExport::handleMessage(const QDBusMessage& message, const QDBusConnection& connection) {
    const QString member = message.member();
    const QVariantList arguments = message.arguments();
    const auto reply = [&](const QVariantList& values) {
        return connection.send(message.createReply(values));
    };
    if (message.interface() == QLatin1String("org.freedesktop.DBus.Properties")) {
        return answerPropertiesCall(message, connection,
                                    {{QStringLiteral("Version"), 3u},
                                     {QStringLiteral("TextDirection"), QStringLiteral("ltr")},
                                     {QStringLiteral("Status"), QStringLiteral("normal")},
                                     {QStringLiteral("IconThemePath"), QStringList()}});
    }
    // The arguments below are read as the methods declare them, and libdbus aborts the process
    // when a list of numbers is read from anything else: a call of another shape is refused.
    static const QHash<QString, QString> signatures = {
        {QStringLiteral("GetLayout"), QStringLiteral("iias")},
        {QStringLiteral("GetGroupProperties"), QStringLiteral("aias")},
        {QStringLiteral("GetProperty"), QStringLiteral("is")},
        {QStringLiteral("Event"), QStringLiteral("isvu")},
        {QStringLiteral("EventGroup"), QStringLiteral("a(isvu)")},
        {QStringLiteral("AboutToShow"), QStringLiteral("i")},
        {QStringLiteral("AboutToShowGroup"), QStringLiteral("ai")}};
    const auto signature = signatures.constFind(member);
    if (signature == signatures.constEnd() || *signature != message.signature()) {
        return false;
    }
    if (member == QLatin1String("GetLayout")) {
        return reply({revision_, layoutOf(arguments.at(0).toInt(), arguments.at(1).toInt(),
                                          arguments.at(2).toStringList())});
    }
    if (member == QLatin1String("GetGroupProperties")) {
        QList<MenuItemProperties> items;
        for (const int id : qdbus_cast<QList<int>>(arguments.at(0))) {
            if (id == 0 || actionOf(id) != nullptr) {
                items << MenuItemProperties{
                    id, propertiesOf(actionOf(id), arguments.at(1).toStringList())};
            }
        }
        return reply({QVariant::fromValue(items)});
    }
    if (member == QLatin1String("GetProperty")) {
        const QVariantMap properties =
            propertiesOf(actionOf(arguments.at(0).toInt()), {arguments.at(1).toString()});
        return reply({QVariant::fromValue(
            QDBusVariant(properties.value(arguments.at(1).toString(), QString())))});
    }
    if (member == QLatin1String("Event")) {
        trigger(arguments.at(0).toInt(), arguments.at(1).toString());
        return reply({});
    }
    if (member == QLatin1String("EventGroup")) {
        const auto events = arguments.at(0).value<QDBusArgument>();
        events.beginArray();
        while (!events.atEnd()) {
            int id = 0;
            QString event;
            QDBusVariant data;
            uint timestamp = 0;
            events.beginStructure();
            events >> id >> event >> data >> timestamp;
            events.endStructure();
            trigger(id, event);
        }
        events.endArray();
        return reply({QVariant::fromValue(QList<int>())});
    }
    if (member == QLatin1String("AboutToShow") || member == QLatin1String("AboutToShowGroup")) {
        const uint before = revision_;
        if (aboutToShow_) {
            aboutToShow_();
        }
        const bool changed = revision_ != before;
        if (member == QLatin1String("AboutToShow")) {
            return reply({changed});
        }
        const QList<int> ids = qdbus_cast<QList<int>>(arguments.at(0));
        return reply(
            {QVariant::fromValue(changed ? ids : QList<int>()), QVariant::fromValue(QList<int>())});
    }
    return false;
}

}  // namespace dovetrel::app
