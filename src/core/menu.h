// The status menu as plain data. The core builds and retitles it; the platform shows it and
// reports the item that was chosen.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace dovetrel {

class Menu;

struct MenuItem {
    std::string title;
    std::string action;         // selector name; empty for none
    std::string keyEquivalent;  // "" for none; shown with the platform's command modifier
    int tag = 0;
    bool hasState = false;  // shows a check box, on or off
    bool isOn = false;      // the check mark
    bool isSeparator = false;
    bool accentTitle = false;  // title drawn in the accent (link) colour
    std::shared_ptr<Menu> submenu;

    static std::shared_ptr<MenuItem> separator();
};

class Menu {
  public:
    const std::vector<std::shared_ptr<MenuItem>>& items() const { return items_; }
    void addItem(std::shared_ptr<MenuItem> item);
    // Inserts at `index`, clamped to the end.
    void insertItem(std::shared_ptr<MenuItem> item, std::size_t index);

  private:
    std::vector<std::shared_ptr<MenuItem>> items_;
};

}  // namespace dovetrel
