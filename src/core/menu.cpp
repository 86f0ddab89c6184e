#include "core/menu.h"

#include <algorithm>
#include <utility>

namespace dovetrel {

std::shared_ptr<MenuItem> MenuItem::separator() {
    auto item = std::make_shared<MenuItem>();
    item->isSeparator = true;
    return item;
}

void Menu::addItem(std::shared_ptr<MenuItem> item) {
    items_.push_back(std::move(item));
}

void Menu::insertItem(std::shared_ptr<MenuItem> item, std::size_t index) {
    const auto at = static_cast<std::ptrdiff_t>(std::min(index, items_.size()));
    items_.insert(items_.begin() + at, std::move(item));
}

}  // namespace dovetrel
