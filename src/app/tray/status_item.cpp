#include "app/tray/status_item.h"

#include <QCursor>
#include <QGuiApplication>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>
#include <optional>
#include <utility>

#include "app/tray/host_watch.h"
#include "app/tray/menu_mirror.h"
#include "app/ui/tray_icon_painter.h"

namespace dovetrel::app {

struct TrayStatusItem::State {
    State(TrayStatusItem* owner, StatusItemHandlers handlers,
          std::function<void(bool)> setTrackingMenu)
        : owner(owner),
          handlers(std::move(handlers)),
          setTrackingMenu(std::move(setTrackingMenu)) {}

    TrayStatusItem* owner;
    StatusItemHandlers handlers;
    std::function<void(bool)> setTrackingMenu;
    std::shared_ptr<Menu> menu;
    std::optional<MenuBarIcon> image;

    // Kept for the life of the item: DBusMenu exports its menu.
    MenuMirror mirror{[this](const std::shared_ptr<MenuItem>& item) { perform(item); }};
    bool menuOnScreen = false;
    bool refreshQueued = false;

    std::unique_ptr<QSystemTrayIcon> tray;
    // Last: it calls back into the members above, so it starts after them and ends first.
    TrayHostWait hostWait{[this] { createTrayIcon(); }};

    void syncAll();
    void perform(const std::shared_ptr<MenuItem>& item);
    void queueRefresh();
    void refresh();

    void createTrayIcon();
    void applyImage();
    void activated(QSystemTrayIcon::ActivationReason reason);
    QPoint popupPosition();
};

void TrayStatusItem::State::syncAll() {
    mirror.syncAll(menu ? *menu : Menu{});
}

void TrayStatusItem::State::perform(const std::shared_ptr<MenuItem>& item) {
    if (!handlers.performAction) {
        return;
    }
    handlers.performAction(item);
    queueRefresh();
}

// Not every DBusMenu host asks before it shows the menu, so the menu is brought up to date
// after each choice as well; later, so that no action changes under its own trigger.
void TrayStatusItem::State::queueRefresh() {
    if (refreshQueued) {
        return;
    }
    refreshQueued = true;
    QTimer::singleShot(0, owner, [this] {
        refreshQueued = false;
        refresh();
    });
}

void TrayStatusItem::State::refresh() {
    // An open menu of our own keeps the snapshot it was opened with.
    if (!menuOnScreen && handlers.menuWillOpen) {
        handlers.menuWillOpen();
    }
}

void TrayStatusItem::State::createTrayIcon() {
    // Without any host Qt falls back to XEmbed, whose icon docks by itself when a tray
    // appears later.
    tray = std::make_unique<QSystemTrayIcon>();
    tray->setToolTip(QStringLiteral("Dovetrel"));
    tray->setContextMenu(&mirror.menu());
    QObject::connect(tray.get(), &QSystemTrayIcon::activated, owner,
                     [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
    applyImage();
}

void TrayStatusItem::State::applyImage() {
    // Shown only once it has a picture: Qt warns about an icon without one.
    if (!tray || !image) {
        return;
    }
    tray->setIcon(makeTrayIcon(*image));
    if (!tray->isVisible()) {
        tray->show();
    }
}

// The status item opens its menu on a plain click too. Qt pops the menu up itself on a
// right click in an XEmbed tray; a StatusNotifierItem host that shows no menu of its own
// asks for it with ContextMenu.
void TrayStatusItem::State::activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason != QSystemTrayIcon::Trigger && reason != QSystemTrayIcon::Context) {
        return;
    }
    if (!mirror.menu().isVisible()) {
        mirror.menu().popup(popupPosition());
    }
}

// Below the icon, or above it in a panel at the bottom of the screen, so that the menu
// leaves the icon in sight. Hosts that do not tell where the icon is get it at the pointer.
QPoint TrayStatusItem::State::popupPosition() {
    const QRect icon = tray ? tray->geometry() : QRect();
    if (!icon.isValid()) {
        return QCursor::pos();
    }
    const QScreen* screen = QGuiApplication::screenAt(icon.center());
    const QRect area = screen != nullptr ? screen->availableGeometry() : QRect();
    const int height = mirror.menu().sizeHint().height();
    if (area.isValid() && icon.bottom() + 1 + height > area.bottom() &&
        icon.top() - height >= area.top()) {
        return {icon.left(), icon.top() - height};
    }
    return {icon.left(), icon.bottom() + 1};
}

TrayStatusItem::TrayStatusItem(StatusItemHandlers handlers,
                               std::function<void(bool)> setTrackingMenu)
    : state_(std::make_unique<State>(this, std::move(handlers), std::move(setTrackingMenu))) {
    State& state = *state_;
    StatusMenu& menu = state.mirror.menu();
    // In a DBusMenu host aboutToShow means the host called AboutToShow: the menu is drawn
    // in another process and its closing may never be reported. Only a menu of our own on
    // screen holds the timers back.
    connect(&menu, &QMenu::aboutToShow, this, [&state] {
        if (state.handlers.menuWillOpen) {
            state.handlers.menuWillOpen();
        }
    });
    menu.visibilityChanged = [&state](bool visible) {
        state.menuOnScreen = visible;
        if (state.setTrackingMenu) {
            state.setTrackingMenu(visible);
        }
    };
}

TrayStatusItem::~TrayStatusItem() {
    // The menu must not report its closing to a platform that may be going away.
    state_->mirror.menu().visibilityChanged = nullptr;
    state_->tray.reset();
}

bool TrayStatusItem::hasButton() const {
    return true;
}

void TrayStatusItem::setImage(const MenuBarIcon& icon) {
    // Hosts fetch the picture again on every change; an unchanged one is not sent.
    if (state_->image && sameMenuBarIcon(*state_->image, icon)) {
        return;
    }
    state_->image = icon;
    state_->applyImage();
}

void TrayStatusItem::setMenu(std::shared_ptr<Menu> menu) {
    state_->menu = std::move(menu);
    state_->syncAll();
}

std::shared_ptr<Menu> TrayStatusItem::menu() const {
    return state_->menu;
}

void TrayStatusItem::menuChanged() {
    state_->syncAll();
}

}  // namespace dovetrel::app
