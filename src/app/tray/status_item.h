// The status item on Linux panels: a QSystemTrayIcon (StatusNotifierItem with DBusMenu where a
// watcher runs, XEmbed otherwise) showing the core's menu and icon.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "core/platform.h"

namespace dovetrel::app {

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
