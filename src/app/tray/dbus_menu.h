// A QMenu exported over D-Bus as a DBusMenu (com.canonical.dbusmenu), which status notifier
// hosts read to draw the menu in the panel's own style.
#pragma once

#include <QDBusVirtualObject>
#include <QPointer>
#include <functional>
#include <map>
#include <unordered_map>

class QAction;
class QMenu;

namespace dovetrel::app {

// Answers a Properties Get or GetAll call from `properties`; false for anything else.
bool answerPropertiesCall(const QDBusMessage& message, const QDBusConnection& connection,
                          const QVariantMap& properties);

class DBusMenuExport : public QDBusVirtualObject {
  public:
    // Where the menu is exported, beside its item.
    static inline const QString kPath = QStringLiteral("/MenuBar");

    // Exports `menu` (which must outlive the export) and its submenus. `aboutToShow` runs
    // when a host says it is about to show the menu, and may change it.
    DBusMenuExport(QMenu& menu, std::function<void()> aboutToShow);

    // Tells hosts on `bus` that the menu changed, so that they read it again.
    void menuChanged(const QDBusConnection& bus);

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

    // The id hosts know `action` by, made when they first see it.
    int idOf(QAction* action);

  private:
    QAction* actionOf(int id) const;
    QVariantMap propertiesOf(const QAction* action, const QStringList& names) const;
    QVariant layoutOf(int id, int depth, const QStringList& names);
    void trigger(int id, const QString& event);

    QMenu& menu_;
    std::function<void()> aboutToShow_;
    uint revision_ = 1;
    int nextId_ = 1;
    struct ItemId {
        int id = 0;
        int kind = 0;
    };
    std::unordered_map<const QAction*, ItemId> ids_;
    std::map<int, QPointer<QAction>> actions_;
};

}  // namespace dovetrel::app
