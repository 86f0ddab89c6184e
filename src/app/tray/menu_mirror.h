// The core's Menu mirrored into the QMenu that the tray icon pops up and DBusMenu exports,
// each choice handed back as the core's item.
#pragma once

#include <QMenu>
#include <functional>
#include <memory>
#include <unordered_map>

#include "core/menu.h"

class QAction;

namespace dovetrel::app {

// Shows accented items in the palette's link colour and reports when it is on screen. In a
// DBusMenu host it never is: the host draws the exported copy and ignores colours.
class StatusMenu : public QMenu {
  public:
    explicit StatusMenu(QWidget* parent = nullptr) : QMenu(parent) {}

    std::function<void(bool)> visibilityChanged;

  protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
};

// Keeps a StatusMenu, submenus and all, in step with the core's Menu.
class MenuMirror {
  public:
    // `chosen` runs with the core's item behind each action the user triggers.
    explicit MenuMirror(std::function<void(const std::shared_ptr<MenuItem>&)> chosen);
    MenuMirror(const MenuMirror&) = delete;
    MenuMirror& operator=(const MenuMirror&) = delete;

    // The same object for the life of the mirror: DBusMenu exports this very menu.
    StatusMenu& menu() { return menu_; }

    // Brings the menu up to `source`, updating its actions in place.
    void syncAll(const Menu& source);

  private:
    void sync(QMenu& target, const Menu& source);
    void syncAction(QMenu& target, QAction& action, const MenuItem& item);
    void choose(const QAction* action);

    std::function<void(const std::shared_ptr<MenuItem>&)> chosen_;
    StatusMenu menu_;
    // The core's item behind each action of the current menu, renewed at every sync.
    std::unordered_map<const QAction*, std::shared_ptr<MenuItem>> items_;
};

}  // namespace dovetrel::app
