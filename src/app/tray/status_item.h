// The status item on Linux panels, showing the core's menu and icon: a StatusNotifierItem of
// our own with its menu as a DBusMenu while a host is registered, Qt's XEmbed tray icon with
// our own menu otherwise, moving between the two as panels come and go.
#pragma once

#include <QObject>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>
#include <functional>
#include <memory>

#include "core/platform.h"

namespace dovetrel::app {

// Where a menu of `menu`'s size opens for a click at `click` on a tray icon whose area is
// reported as `icon` (invalid when unknown), on `screen` with `workArea` outside the panels:
// against the panel's edge beside the icon, or at the click across the panel when the area
// is larger than the panel; always on the screen.
QPoint trayMenuPosition(const QRect& icon, const QPoint& click, const QSize& menu,
                        const QRect& screen, const QRect& workArea);

// The symbolic icons installed into the hicolor theme, which panels draw in their own colours.
QString symbolicIconName(bool active);

class TrayStatusItem : public QObject, public StatusItem {
  public:
    // `setTrackingMenu` is told when one of our menus opens and closes, so that timers can
    // wait meanwhile.
    TrayStatusItem(StatusItemHandlers handlers, std::function<void(bool)> setTrackingMenu);
    ~TrayStatusItem() override;

    bool hasButton() const override;
    void setImage(const MenuBarIcon& icon) override;
    void setMenu(std::shared_ptr<Menu> menu) override;
    std::shared_ptr<Menu> menu() const override;
    void menuChanged() override;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dovetrel::app
