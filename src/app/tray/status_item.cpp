#include "app/tray/status_item.h"

#include <QAction>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QDBusVariant>
#include <QDeadlineTimer>
#include <QGuiApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPalette>
#include <QScreen>
#include <QStyleOptionMenuItem>
#include <QSystemTrayIcon>
#include <QTimer>
#include <chrono>
#include <optional>
#include <string>
#include <unordered_map>

#include "app/ui/tray_icon_painter.h"
#include "app/x11/connection.h"

namespace dovetrel::app {
namespace {

using namespace std::chrono_literals;

const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
// Started before the panel (at login), the icon waits this long for a tray host to appear.
constexpr auto kHostWait = 5s;
constexpr auto kHostPollInterval = 200ms;
constexpr char kAccentProperty[] = "dovetrelAccentTitle";

// Key equivalents are shown with the platform's command modifier: Ctrl here. An upper-case
// letter asks for Shift as well.
QKeySequence shortcutFor(const std::string& keyEquivalent) {
    const QString key = QString::fromStdString(keyEquivalent);
    if (key.isEmpty()) {
        return {};
    }
    const bool shifted = key.size() == 1 && key.front().isUpper();
    return QKeySequence::fromString(
        (shifted ? QStringLiteral("Ctrl+Shift+") : QStringLiteral("Ctrl+")) + key.toUpper(),
        QKeySequence::PortableText);
}

// Shows accented items in the palette's link colour and reports when it is on screen. In a
// DBusMenu host it never is: the host draws the exported copy and ignores colours.
class StatusMenu : public QMenu {
  public:
    explicit StatusMenu(QWidget* parent = nullptr) : QMenu(parent) {}

    std::function<void(bool)> visibilityChanged;

  protected:
    void initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const override {
        QMenu::initStyleOption(option, action);
        if (action != nullptr && action->property(kAccentProperty).toBool()) {
            const QColor link = option->palette.color(QPalette::Link);
            option->palette.setColor(QPalette::Text, link);
            option->palette.setColor(QPalette::WindowText, link);
            option->palette.setColor(QPalette::ButtonText, link);
        }
    }

    void showEvent(QShowEvent* event) override {
        QMenu::showEvent(event);
        if (visibilityChanged) {
            visibilityChanged(true);
        }
    }

    void hideEvent(QHideEvent* event) override {
        QMenu::hideEvent(event);
        if (visibilityChanged) {
            visibilityChanged(false);
        }
    }
};

// Whether an XEmbed tray manager runs.
bool xembedTrayRuns() {
    return screenSelectionHasOwner("_NET_SYSTEM_TRAY_S");
}

}  // namespace

struct TrayStatusItem::State {
    TrayStatusItem* owner = nullptr;
    StatusItemHandlers handlers;
    std::function<void(bool)> setTrackingMenu;
    std::shared_ptr<Menu> menu;
    std::optional<MenuBarIcon> image;

    // Kept for the life of the item: DBusMenu exports this very object.
    StatusMenu qmenu;
    // The core's item behind each action of the current menu, renewed at every sync.
    std::unordered_map<const QAction*, std::shared_ptr<MenuItem>> items;
    bool menuOnScreen = false;
    bool refreshQueued = false;

    std::unique_ptr<QSystemTrayIcon> tray;
    QDeadlineTimer hostDeadline;
    QTimer hostPoll;
    std::unique_ptr<QDBusServiceWatcher> watcherWatch;

    void sync(QMenu& target, const Menu& source);
    void syncAction(QMenu& target, QAction& action, const MenuItem& item);
    void syncAll();
    void choose(const QAction* action);
    void queueRefresh();
    void refresh();

    void startWaitingForHost();
    void checkForHost();
    void askWatcherForHost();
    void createTrayIcon();
    void applyImage();
    void activated(QSystemTrayIcon::ActivationReason reason);
    QPoint popupPosition();
};

void TrayStatusItem::State::syncAll() {
    items.clear();
    sync(qmenu, menu ? *menu : Menu{});
}

// Actions are updated in place rather than rebuilt: DBusMenu hosts then keep their item ids
// and see only what changed, and an action is never deleted while it is being triggered.
void TrayStatusItem::State::sync(QMenu& target, const Menu& source) {
    const QList<QAction*> actions = target.actions();
    const auto& sourceItems = source.items();
    for (std::size_t i = 0; i < sourceItems.size(); ++i) {
        QAction* action = nullptr;
        if (i < std::size_t(actions.size())) {
            action = actions[qsizetype(i)];
        } else {
            action = new QAction(&target);
            QObject::connect(action, &QAction::triggered, owner,
                             [this, action] { choose(action); });
            target.addAction(action);
        }
        syncAction(target, *action, *sourceItems[i]);
        items[action] = sourceItems[i];
    }
    for (qsizetype i = qsizetype(sourceItems.size()); i < actions.size(); ++i) {
        QAction* surplus = actions[i];
        target.removeAction(surplus);
        if (QMenu* submenu = surplus->menu()) {
            submenu->deleteLater();
        }
        surplus->deleteLater();
    }
}

void TrayStatusItem::State::syncAction(QMenu& target, QAction& action, const MenuItem& item) {
    action.setSeparator(item.isSeparator);
    action.setText(
        item.isSeparator
            ? QString()
            : QString::fromStdString(item.title).replace(QLatin1Char('&'), QLatin1String("&&")));
    action.setCheckable(!item.isSeparator && item.hasState);
    action.setChecked(item.isOn);
    action.setShortcut(shortcutFor(item.keyEquivalent));
    // As in a menu that enables its items by their actions: an item that does nothing and
    // opens nothing is greyed out.
    action.setEnabled(!item.action.empty() || item.submenu != nullptr);
    action.setProperty(kAccentProperty, item.accentTitle);
    QMenu* submenu = action.menu();
    if (item.submenu) {
        if (submenu == nullptr) {
            submenu = new StatusMenu(&target);
            action.setMenu(submenu);
        }
        sync(*submenu, *item.submenu);
    } else if (submenu != nullptr) {
        action.setMenu(nullptr);
        submenu->deleteLater();
    }
}

void TrayStatusItem::State::choose(const QAction* action) {
    const auto found = items.find(action);
    if (found == items.end() || !handlers.performAction) {
        return;
    }
    const std::shared_ptr<MenuItem> item = found->second;
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

// Qt picks StatusNotifierItem or XEmbed once per process, when the tray icon is created.
// Created before the panel, it would stay with XEmbed, which a StatusNotifierItem-only panel
// never shows; so it waits a little for either kind of host.
void TrayStatusItem::State::startWaitingForHost() {
    hostDeadline = QDeadlineTimer(kHostWait);
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (bus.isConnected()) {
        watcherWatch = std::make_unique<QDBusServiceWatcher>(
            kWatcherService, bus, QDBusServiceWatcher::WatchForRegistration);
        QObject::connect(watcherWatch.get(), &QDBusServiceWatcher::serviceRegistered, owner,
                         [this] { askWatcherForHost(); });
    }
    QObject::connect(&hostPoll, &QTimer::timeout, owner, [this] { checkForHost(); });
    hostPoll.start(kHostPollInterval);
    // The core finishes building its menu and image before the icon appears.
    QTimer::singleShot(0, owner, [this] { checkForHost(); });
}

void TrayStatusItem::State::checkForHost() {
    if (tray) {
        return;
    }
    if (xembedTrayRuns() || hostDeadline.hasExpired()) {
        createTrayIcon();
        return;
    }
    askWatcherForHost();
}

// Qt goes for StatusNotifierItem only when the watcher reports a registered host.
void TrayStatusItem::State::askWatcherForHost() {
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (tray || !bus.isConnected()) {
        return;
    }
    QDBusMessage get = QDBusMessage::createMethodCall(
        kWatcherService, kWatcherPath, QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("Get"));
    get << kWatcherService << QStringLiteral("IsStatusNotifierHostRegistered");
    get.setAutoStartService(false);
    auto* pending = new QDBusPendingCallWatcher(bus.asyncCall(get), owner);
    QObject::connect(pending, &QDBusPendingCallWatcher::finished, owner,
                     [this](QDBusPendingCallWatcher* call) {
                         call->deleteLater();
                         const QDBusPendingReply<QDBusVariant> reply = *call;
                         if (!tray && reply.isValid() && reply.value().variant().toBool()) {
                             createTrayIcon();
                         }
                     });
}

void TrayStatusItem::State::createTrayIcon() {
    hostPoll.stop();
    watcherWatch.reset();
    // Without any host Qt falls back to XEmbed, whose icon docks by itself when a tray
    // appears later.
    tray = std::make_unique<QSystemTrayIcon>();
    tray->setToolTip(QStringLiteral("Dovetrel"));
    tray->setContextMenu(&qmenu);
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
    if (!qmenu.isVisible()) {
        qmenu.popup(popupPosition());
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
    const int height = qmenu.sizeHint().height();
    if (area.isValid() && icon.bottom() + 1 + height > area.bottom() &&
        icon.top() - height >= area.top()) {
        return {icon.left(), icon.top() - height};
    }
    return {icon.left(), icon.bottom() + 1};
}

TrayStatusItem::TrayStatusItem(StatusItemHandlers handlers,
                               std::function<void(bool)> setTrackingMenu)
    : state_(std::make_unique<State>()) {
    State& state = *state_;
    state.owner = this;
    state.handlers = std::move(handlers);
    state.setTrackingMenu = std::move(setTrackingMenu);
    // In a DBusMenu host aboutToShow means the host called AboutToShow: the menu is drawn
    // in another process and its closing may never be reported. Only a menu of our own on
    // screen holds the timers back.
    connect(&state.qmenu, &QMenu::aboutToShow, this, [&state] {
        if (state.handlers.menuWillOpen) {
            state.handlers.menuWillOpen();
        }
    });
    state.qmenu.visibilityChanged = [&state](bool visible) {
        state.menuOnScreen = visible;
        if (state.setTrackingMenu) {
            state.setTrackingMenu(visible);
        }
    };
    state.startWaitingForHost();
}

TrayStatusItem::~TrayStatusItem() {
    // The menu must not report its closing to a platform that may be going away.
    state_->qmenu.visibilityChanged = nullptr;
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
