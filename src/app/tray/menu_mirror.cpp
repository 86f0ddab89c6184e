#include "app/tray/menu_mirror.h"

#include <QAction>
#include <QKeySequence>
#include <QPalette>
#include <QStyleOptionMenuItem>
#include <string>
#include <utility>

namespace dovetrel::app {
namespace {

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

}  // namespace

void StatusMenu::initStyleOption(QStyleOptionMenuItem* option, const QAction* action) const {
    QMenu::initStyleOption(option, action);
    if (action != nullptr && action->property(kAccentProperty).toBool()) {
        const QColor link = option->palette.color(QPalette::Link);
        option->palette.setColor(QPalette::Text, link);
        option->palette.setColor(QPalette::WindowText, link);
        option->palette.setColor(QPalette::ButtonText, link);
    }
}

void StatusMenu::showEvent(QShowEvent* event) {
    QMenu::showEvent(event);
    if (visibilityChanged) {
        visibilityChanged(true);
    }
}

void StatusMenu::hideEvent(QHideEvent* event) {
    QMenu::hideEvent(event);
    if (visibilityChanged) {
        visibilityChanged(false);
    }
}

MenuMirror::MenuMirror(std::function<void(const std::shared_ptr<MenuItem>&)> chosen)
    : chosen_(std::move(chosen)) {}

void MenuMirror::syncAll(const Menu& source) {
    items_.clear();
    sync(menu_, source);
}

// Actions are updated in place rather than rebuilt: DBusMenu hosts then keep their item ids
// and see only what changed, and an action is never deleted while it is being triggered.
void MenuMirror::sync(QMenu& target, const Menu& source) {
    const QList<QAction*> actions = target.actions();
    const auto& sourceItems = source.items();
    for (std::size_t i = 0; i < sourceItems.size(); ++i) {
        QAction* action = nullptr;
        if (i < std::size_t(actions.size())) {
            action = actions[qsizetype(i)];
        } else {
            action = new QAction(&target);
            // The mirror outlives its actions: they go with its menu.
            QObject::connect(action, &QAction::triggered, action,
                             [this, action] { choose(action); });
            target.addAction(action);
        }
        syncAction(target, *action, *sourceItems[i]);
        items_[action] = sourceItems[i];
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

void MenuMirror::syncAction(QMenu& target, QAction& action, const MenuItem& item) {
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

void MenuMirror::choose(const QAction* action) {
    const auto found = items_.find(action);
    if (found == items_.end()) {
        return;
    }
    // A copy: the choice may change the menu, and a sync renews the map.
    const std::shared_ptr<MenuItem> item = found->second;
    chosen_(item);
}

}  // namespace dovetrel::app
