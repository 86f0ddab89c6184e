// The tray icon's menu, the Enabled toggle and Quit.
#include "core/status_menu.h"

#include "core/app_delegate.h"

namespace dovetrel {
namespace {

std::shared_ptr<MenuItem> makeItem(std::string title, std::string action,
                                   std::string keyEquivalent = "", int tag = 0) {
    auto item = std::make_shared<MenuItem>();
    item->title = std::move(title);
    item->action = std::move(action);
    item->keyEquivalent = std::move(keyEquivalent);
    item->tag = tag;
    return item;
}

}  // namespace

std::shared_ptr<Menu> makeSnoozeChoicesMenu() {
    auto menu = std::make_shared<Menu>();
    for (const auto& [title, minutes] :
         {std::pair{"5 minutes", 5}, std::pair{"10 minutes", 10}, std::pair{"15 minutes", 15},
          std::pair{"30 minutes", 30}, std::pair{"1 hour", 60}}) {
        menu->addItem(makeItem(title, "snoozeSelected:", "", minutes));
    }
    return menu;
}

std::shared_ptr<Menu> makeCancelSnoozeMenu() {
    auto menu = std::make_shared<Menu>();
    menu->addItem(makeItem("Cancel Snooze", "cancelSnoozeAction"));
    return menu;
}

void AppDelegate::setupMenuBar() {
    std::weak_ptr<AppDelegate> weak = weak_from_this();
    StatusItemHandlers handlers;
    handlers.menuWillOpen = weakly(&AppDelegate::menuWillOpen);
    handlers.performAction = [weak](const std::shared_ptr<MenuItem>& sender) {
        if (const auto self = weak.lock(); self && sender) {
            self->performAction(sender->action, *sender);
        }
    };
    statusItem = platform_.createStatusItem(std::move(handlers));
    if (!statusItem) {
        return;
    }
    if (statusItem->hasButton()) {
        // No snooze can be running yet.
        statusItem->setImage(makeMenuBarIcon(isEnabled()));
    }
    auto menu = std::make_shared<Menu>();
    enabledMenuItem = makeItem("Enabled", "toggleEnabled");
    enabledMenuItem->hasState = true;
    enabledMenuItem->isOn = isEnabled();
    menu->addItem(enabledMenuItem);
    snoozeMenuItem = makeItem("Snooze", "");
    snoozeMenuItem->submenu = makeSnoozeChoicesMenu();
    menu->addItem(snoozeMenuItem);
    menu->addItem(MenuItem::separator());
    menu->addItem(makeItem("Settings\u2026", "openSettings", ","));
    menu->addItem(MenuItem::separator());
    menu->addItem(makeItem("Quit Dovetrel", "quit", "q"));
    statusItem->setMenu(std::move(menu));
}

void AppDelegate::toggleEnabled() {
    setIsEnabled(!isEnabled());
    cancelSnooze();
    updateMenuBarIcon();
    // Switched off, the guard goes down at once; switched on, the overlay comes back only
    // through the idle timer. The store may already have told us of the change.
    followEnabledPreference();
}

void AppDelegate::followEnabledPreference() {
    const bool enabled = isEnabled();
    if (followedEnabled_ == enabled) {
        return;
    }
    followedEnabled_ = enabled;
    publishGuardState();
    if (!enabled) {
        // Monitored events are ignored while the guard is off: nothing else would take a
        // shown overlay down.
        dismissOverlay();
    } else if (!idleTimer || !idleTimer->isValid()) {
        waitForInput();
    }
    refreshStatusMenu();
}

void AppDelegate::quit() {
    platform_.terminate();
}

void AppDelegate::menuWillOpen() {
    // A timer that stood still through a suspend may not have ended the snooze yet.
    endSnoozeIfDue();
    refreshStatusMenu();
}

void AppDelegate::refreshStatusMenu() {
    if (enabledMenuItem) {
        enabledMenuItem->isOn = isEnabled();
    }
    updateMenuBarIcon();
    refreshSnoozeItem();
    if (statusItem) {
        statusItem->menuChanged();
    }
}

void AppDelegate::updateMenuBarIcon() {
    if (!statusItem || !statusItem->hasButton()) {
        return;
    }
    // Without the right to guard, the guard is off whatever the user chose.
    statusItem->setImage(
        makeMenuBarIcon(isEnabled() && !isSnoozed() && platform_.isProcessTrusted(false)));
}

}  // namespace dovetrel
