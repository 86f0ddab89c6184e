#include "app/tray/status_item.h"

#include <QCoreApplication>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPalette>
#include <QScreen>
#include <QStandardPaths>
#include <QSystemTrayIcon>
#include <QTimer>
#include <algorithm>
#include <optional>
#include <utility>

#include "app/tray/host_watch.h"
#include "app/tray/menu_mirror.h"
#include "app/tray/sni_item.h"
#include "app/ui/tray_icon_painter.h"
#include "app/x11/connection.h"

namespace dovetrel::app {
namespace {

// Where the icons are when the icon theme does not look there already: beside the binary in
// the build tree, or in the share folder of the prefix it is installed under.
QString iconThemePath() {
    static const QString path = [] {
        const QString binaries = QCoreApplication::applicationDirPath();
        for (const QString& icons :
             {binaries + QStringLiteral("/icons"),
              QDir::cleanPath(binaries + QStringLiteral("/../share/icons"))}) {
            if (!QFileInfo::exists(icons + QStringLiteral("/hicolor/scalable/status/") +
                                   symbolicIconName(true) + QStringLiteral(".svg"))) {
                continue;
            }
            const QStringList searched =
                QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
            const bool known =
                std::any_of(searched.begin(), searched.end(), [&](const QString& data) {
                    return QDir::cleanPath(data + QStringLiteral("/icons")) == icons;
                });
            return known ? QString() : icons;
        }
        return QString();
    }();
    return path;
}

// The desktop's preference as Qt knows it: the foreground of its palette.
QColor desktopForeground() {
    return QGuiApplication::palette().color(QPalette::WindowText);
}

// The desktop's foreground inside a band of its opposite, which shows on any background.
TrayIconInk haloedInk() {
    const QColor foreground = desktopForeground();
    QColor halo = contrastingForeground(foreground);
    halo.setAlphaF(0.6f);
    return {foreground, halo};
}

// In an XEmbed tray the icon is pixels of ours: in the foreground the tray announces, else
// one that stands out on the tray's background where the icon goes. A tray that draws icons
// through a visual with alpha shows no background in the icon's own window: there, and
// wherever the background cannot be read, the haloed ink.
TrayIconInk xembedInk(QPainter& painter, const QRect& rect) {
    if (const auto announced = systemTrayForeground()) {
        return {*announced};
    }
    if (const auto background = onScreenBackground(painter, rect)) {
        return {contrastingForeground(*background)};
    }
    return haloedInk();
}

// For hosts that draw only pixels, whatever their panel's colour.
QList<QImage> fallbackPixmaps(const MenuBarIcon& icon) {
    const TrayIconInk ink = haloedInk();
    QList<QImage> images;
    for (const int side : {22, 32, 48}) {
        QImage image(side, side, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter painter(&image);
        paintMenuBarIcon(painter, image.rect(), icon, ink.foreground, ink.halo);
        painter.end();
        images << image;
    }
    return images;
}

// The menu's place on the screen that holds the click.
QPoint menuPosition(const QRect& icon, const QPoint& click, const QSize& menu) {
    const QScreen* screen = QGuiApplication::screenAt(click);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    return screen == nullptr ? click
                             : trayMenuPosition(icon, click, menu, screen->geometry(),
                                                screen->availableGeometry());
}

}  // namespace

QString symbolicIconName(bool active) {
    return active ? QStringLiteral("app.dovetrel.Dovetrel-active-symbolic")
                  : QStringLiteral("app.dovetrel.Dovetrel-inactive-symbolic");
}

QPoint trayMenuPosition(const QRect& icon, const QPoint& click, const QSize& menu,
                        const QRect& screen, const QRect& workArea) {
    // The panel is the band between the screen's edge and its work area on the side clicked.
    std::optional<QRect> panel;
    bool side = false;
    if (click.y() < workArea.top()) {
        panel = QRect(screen.left(), screen.top(), screen.width(), workArea.top() - screen.top());
    } else if (click.y() > workArea.bottom()) {
        panel = QRect(screen.left(), workArea.bottom() + 1, screen.width(),
                      screen.bottom() - workArea.bottom());
    } else if (click.x() < workArea.left() || click.x() > workArea.right()) {
        side = true;
        panel = click.x() < workArea.left()
                    ? QRect(screen.left(), screen.top(), workArea.left() - screen.left(),
                            screen.height())
                    : QRect(workArea.right() + 1, screen.top(), screen.right() - workArea.right(),
                            screen.height());
    }
    // An icon area larger than the panel (some trays report their own cell) says nothing of
    // where the icon is: the click does, across the panel.
    QRect anchor =
        icon.isValid() && (!panel || panel->contains(icon)) ? icon : QRect(click, QSize(1, 1));
    // Against the panel's edge rather than the icon's, which may sit inside it.
    if (panel && side) {
        anchor = QRect(panel->left(), anchor.top(), panel->width(), anchor.height());
    } else if (panel) {
        anchor = QRect(anchor.left(), panel->top(), anchor.width(), panel->height());
    }
    QPoint position(anchor.left(), anchor.bottom() + 1);
    if (side) {
        position = click.x() < workArea.left() ? QPoint(anchor.right() + 1, anchor.top())
                                               : QPoint(anchor.left() - menu.width(), anchor.top());
    } else if (anchor.bottom() + 1 + menu.height() > workArea.bottom() &&
               anchor.top() - menu.height() >= screen.top()) {
        position.setY(anchor.top() - menu.height());
    }
    // A menu larger than the screen starts at its top left corner (std::clamp would be
    // undefined there).
    position.setX(
        std::max(screen.left(), std::min(position.x(), screen.right() + 1 - menu.width())));
    position.setY(
        std::max(screen.top(), std::min(position.y(), screen.bottom() + 1 - menu.height())));
    return position;
}

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

    // One of the two at a time, as the host watch decides.
    std::unique_ptr<QSystemTrayIcon> tray;
    std::unique_ptr<StatusNotifierItem> notifier;
    // Last: it calls back into the members above, so it starts after them and ends first.
    TrayHostWatch hostWatch{[this](TrayHostWatch::Host host) { useHost(host); }};

    void syncAll();
    void perform(const std::shared_ptr<MenuItem>& item);
    void queueRefresh();
    void refresh();
    void menuWillOpen() const;

    void useHost(TrayHostWatch::Host host);
    void createTrayIcon();
    void applyImage();
    void activated(QSystemTrayIcon::ActivationReason reason);
    void popUp(const QRect& icon, const QPoint& click);
};

void TrayStatusItem::State::syncAll() {
    mirror.syncAll(menu ? *menu : Menu{});
    if (notifier) {
        notifier->menuChanged();
    }
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
    if (!menuOnScreen) {
        menuWillOpen();
    }
}

void TrayStatusItem::State::menuWillOpen() const {
    if (handlers.menuWillOpen) {
        handlers.menuWillOpen();
    }
}

void TrayStatusItem::State::useHost(TrayHostWatch::Host host) {
    if (host == TrayHostWatch::Host::StatusNotifier) {
        if (!notifier) {
            auto item = std::make_unique<StatusNotifierItem>(
                mirror.menu(), [this](QPoint click) { popUp(QRect(), click); },
                [this] { menuWillOpen(); });
            if (!item->publish()) {
                createTrayIcon();
                return;
            }
            tray.reset();
            notifier = std::move(item);
            applyImage();
        }
        notifier->registerWithWatcher();
        return;
    }
    notifier.reset();
    createTrayIcon();
}

void TrayStatusItem::State::createTrayIcon() {
    if (tray) {
        return;
    }
    // Without a tray yet, the XEmbed icon docks by itself when one appears. No context menu:
    // Qt would pop it at the pointer itself, away from the panel's edge.
    tray = std::make_unique<QSystemTrayIcon>();
    tray->setToolTip(QStringLiteral("Dovetrel"));
    QObject::connect(tray.get(), &QSystemTrayIcon::activated, owner,
                     [this](QSystemTrayIcon::ActivationReason reason) { activated(reason); });
    applyImage();
}

void TrayStatusItem::State::applyImage() {
    if (!image) {
        return;
    }
    if (notifier) {
        notifier->setIcon(symbolicIconName(image->active), iconThemePath(),
                          fallbackPixmaps(*image));
    }
    // Shown only once it has a picture: Qt warns about an icon without one.
    if (tray) {
        tray->setIcon(makeTrayIcon(*image, xembedInk));
        if (!tray->isVisible()) {
            tray->show();
        }
    }
}

// The status item opens its menu on any click.
void TrayStatusItem::State::activated(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::Trigger || reason == QSystemTrayIcon::Context) {
        popUp(tray ? tray->geometry() : QRect(), QCursor::pos());
    }
}

void TrayStatusItem::State::popUp(const QRect& icon, const QPoint& click) {
    StatusMenu& shown = mirror.menu();
    if (!shown.isVisible()) {
        shown.popup(menuPosition(icon, click, shown.sizeHint()));
    }
}

TrayStatusItem::TrayStatusItem(StatusItemHandlers handlers,
                               std::function<void(bool)> setTrackingMenu)
    : state_(std::make_unique<State>(this, std::move(handlers), std::move(setTrackingMenu))) {
    State& state = *state_;
    StatusMenu& menu = state.mirror.menu();
    // In a DBusMenu host aboutToShow means the host called AboutToShow: the menu is drawn
    // in another process and its closing may never be reported. Only a menu of our own on
    // screen holds the timers back.
    connect(&menu, &QMenu::aboutToShow, this, [&state] { state.menuWillOpen(); });
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
    state_->notifier.reset();
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
