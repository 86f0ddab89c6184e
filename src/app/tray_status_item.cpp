#include "app/tray_status_item.h"

namespace dovetrel::app {

struct TrayStatusItem::State {
    std::shared_ptr<Menu> menu;
};

TrayStatusItem::TrayStatusItem(StatusItemHandlers, std::function<void(bool)>)
    : state_(std::make_unique<State>()) {}

TrayStatusItem::~TrayStatusItem() = default;

bool TrayStatusItem::hasButton() const {
    return false;
}

void TrayStatusItem::setImage(const MenuBarIcon&) {}

void TrayStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    state_->menu = std::move(menu);
}

std::shared_ptr<Menu> TrayStatusItem::menu() const {
    return state_->menu;
}

void TrayStatusItem::menuChanged() {}

}  // namespace dovetrel::app
