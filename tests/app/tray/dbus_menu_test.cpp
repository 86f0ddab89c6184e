#include "app/tray/dbus_menu.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QMenu>

#include "support/x_session.h"

namespace dovetrel::app {
namespace {

// Hosts keep an item's kind for as long as its id lives, and the menu is mirrored by position,
// so an action that becomes another kind of item (an item inserted above it) needs a new id.
TEST(DBusMenuExport, AnActionThatBecomesAnotherKindOfItemGetsANewId) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    support::ensureApplication([](int& argc, char** argv) { new QApplication(argc, argv); });
    QMenu menu;
    QAction* action = menu.addSeparator();
    DBusMenuExport exported(menu, {});
    int id = exported.idOf(action);
    EXPECT_EQ(exported.idOf(action), id);
    for (const auto& change : std::initializer_list<std::function<void()>>{
             [&] { action->setSeparator(false); }, [&] { action->setCheckable(true); },
             [&] { action->setMenu(new QMenu(&menu)); }}) {
        change();
        const int changed = exported.idOf(action);
        EXPECT_NE(changed, id);
        id = changed;
    }
    action->setText(QStringLiteral("Update Available"));
    action->setEnabled(false);
    EXPECT_EQ(exported.idOf(action), id) << "a new label or state keeps the id";
}

}  // namespace
}  // namespace dovetrel::app
