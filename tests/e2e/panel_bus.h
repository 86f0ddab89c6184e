// What a panel sees of the session: a private session bus, optionally with a
// StatusNotifierWatcher of the test's own reporting a host, and the item that registers there,
// whose DBusMenu the test then drives as a panel would.
#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariant>
#include <memory>
#include <string>
#include <vector>

#include "support/x_session.h"

namespace dovetrel::e2e {

// One node of a DBusMenu layout.
struct MenuNode {
    int id = 0;
    QVariantMap properties;
    std::vector<MenuNode> children;

    std::string label() const;
    // The children's labels, "-" for a separator.
    std::vector<std::string> labels() const;
    // The child with this label; a test failure when there is none.
    const MenuNode& child(const std::string& label) const;
    bool checked() const;
    // The keys of its first shortcut, as in "Control+Q".
    std::string shortcut() const;
};

class PanelBus {
  public:
    PanelBus();
    ~PanelBus();
    PanelBus(const PanelBus&) = delete;
    PanelBus& operator=(const PanelBus&) = delete;

    // DBUS_SESSION_BUS_ADDRESS for a child that should use this bus.
    std::string environment() const;

    // A panel on the bus: programs started from now on show their tray menu there.
    bool startWatcher();
    // The panel goes: its watcher leaves the bus and forgets its items.
    void stopWatcher();
    // Waits for an item to register and finds its menu.
    bool findItemMenu();

    // A property of the registered item; invalid when it does not answer.
    QVariant itemProperty(const QString& name);
    // The whole menu; a test failure when the item does not answer.
    MenuNode layout();
    // Opens the menu as a host that asks first would, and reads it.
    MenuNode openMenu();
    void click(const MenuNode& node);
    // Calls a method of the item's menu, well formed or not.
    QDBusMessage call(const QString& method, const QVariantList& arguments);
    // Sends a signal with one boolean argument, as a screen locker does.
    void emitSignal(const QString& path, const QString& interface, const QString& member,
                    bool value);

  private:
    QTemporaryDir folder_;
    std::string address_;
    support::ChildProcess daemon_;
    QString name_;
    std::unique_ptr<QDBusConnection> bus_;
    // The items registered with the watcher, as "service/path".
    QStringList items_;
    std::unique_ptr<QDBusVirtualObject> watcher_;
    QString item_;
    QString menuPath_;
};

}  // namespace dovetrel::e2e
