// The status item as a StatusNotifierItem on the session bus, with its menu as a DBusMenu:
// the panel draws both in its own style and colours.
#pragma once

#include <QDBusVirtualObject>
#include <QImage>
#include <QList>
#include <QPoint>
#include <functional>

#include "app/tray/dbus_menu.h"

class QMenu;

namespace dovetrel::app {

class StatusNotifierItem : public QDBusVirtualObject {
  public:
    // Exports `menu`, which must outlive the item. `popUp` runs with the click's place on
    // the screen when a host asks the item itself for its menu (hosts that ignore that the
    // item is only a menu); `menuAboutToShow` when a host is about to show the menu.
    StatusNotifierItem(QMenu& menu, std::function<void(QPoint)> popUp,
                       std::function<void()> menuAboutToShow);
    ~StatusNotifierItem() override;

    // Puts the item on the session bus; false when there is no bus or the names are taken.
    bool publish();
    // Asks the running StatusNotifierWatcher to list the item; done again for a watcher that
    // starts later.
    void registerWithWatcher();

    // The icon by name from the icon theme (in `themePath` as well, when that is not empty),
    // with `pixmaps` for hosts that draw only pixels.
    void setIcon(const QString& name, const QString& themePath, const QList<QImage>& pixmaps);
    void menuChanged();

    QString introspect(const QString& path) const override;
    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override;

  private:
    QVariantMap properties() const;

    QString service_;
    std::function<void(QPoint)> popUp_;
    DBusMenuExport menuExport_;
    bool published_ = false;
    QString iconName_;
    QString themePath_;
    QList<QImage> pixmaps_;
};

}  // namespace dovetrel::app
