// The program's side of the GNOME Shell extension's contract, against a stand-in extension on
// a private bus: what the platform orders, and what it makes of each report.
#include "app/gnome_platform.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QVariantMap>

#include "core/app_delegate.h"
#include "core/menu.h"
#include "core/menu_bar_icon.h"
#include "support/x_session.h"

namespace dovetrel::app {
namespace {

using support::waitFor;
using namespace std::chrono_literals;

// Lets the bus and the event loop run for a while, for what must not happen.
void settle(int milliseconds) {
    waitFor([] { return false; }, std::chrono::milliseconds(milliseconds));
}

std::shared_ptr<MenuItem> item(std::string title, std::string action, bool checked = false) {
    auto made = std::make_shared<MenuItem>();
    made->title = std::move(title);
    made->action = std::move(action);
    made->hasState = checked;
    made->isOn = checked;
    return made;
}

// Records the presses the square's tap is told of.
EventTapHandlers recording(std::vector<uint32_t>& presses) {
    EventTapHandlers handlers;
    handlers.callback = [&presses](uint32_t type, const TapEvent&) {
        presses.push_back(type);
        return false;
    };
    return handlers;
}

const QString kPath = QStringLiteral("/app/dovetrel/Shell");
const QString kInterface = QStringLiteral("app.dovetrel.Shell1");

// The extension as the program sees it: it records every order and answers as told.
class FakeExtension : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        orders.append({message.member(), message.arguments()});
        if (message.member() == QStringLiteral("Attach")) {
            return connection.send(message.createReply(QVariant::fromValue(version)));
        }
        if (message.member() == QStringLiteral("GetPointer")) {
            return connection.send(
                message.createReply({pointer.x(), pointer.y(), QVariant::fromValue(modifiers)}));
        }
        return connection.send(message.createReply());
    }

    // The arguments of the last order named `member`; empty when there was none.
    QVariantList last(const QString& member) const {
        for (auto order = orders.rbegin(); order != orders.rend(); ++order) {
            if (order->first == member) {
                return order->second.isEmpty() ? QVariantList{QStringLiteral("(none)")}
                                               : order->second;
            }
        }
        return {};
    }
    int count(const QString& member) const {
        return int(std::count_if(orders.begin(), orders.end(),
                                 [&](const auto& order) { return order.first == member; }));
    }

    QList<QPair<QString, QVariantList>> orders;
    uint version = 1;
    QPointF pointer{500, 400};
    uint modifiers = 0;
};

class GnomePlatformTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        support::ensureApplication([](int& argc, char** argv) { new QApplication(argc, argv); });
        qputenv("XDG_CONFIG_HOME", folder_.filePath(QStringLiteral("config")).toUtf8());
        const QString socket = folder_.filePath(QStringLiteral("bus"));
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--address=unix:path=") + socket});
        ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(socket); }));
        address_ = QStringLiteral("unix:path=") + socket;
        shell_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address_, QStringLiteral("shell")));
        ASSERT_TRUE(shell_->registerVirtualObject(kPath, &extension_));
        ASSERT_TRUE(shell_->registerService(QStringLiteral("app.dovetrel.Shell")));
        program_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(address_, QStringLiteral("program")));
        platform_ = std::make_unique<GnomePlatform>(BuildInfo{}, *program_);
    }

    void TearDown() override {
        platform_.reset();
        QDBusConnection::disconnectFromBus(QStringLiteral("program"));
        QDBusConnection::disconnectFromBus(QStringLiteral("shell"));
        daemon_.kill();
        daemon_.waitForFinished();
    }

    void report(const QString& name, const QVariantList& arguments = {}) {
        QDBusMessage signal = QDBusMessage::createSignal(kPath, kInterface, name);
        signal.setArguments(arguments);
        shell_->send(signal);
    }
    bool ordered(const QString& member, int times = 1) {
        return waitFor([&] { return extension_.count(member) >= times; });
    }

    QTemporaryDir folder_;
    QProcess daemon_;
    QString address_;
    FakeExtension extension_;
    std::unique_ptr<QDBusConnection> shell_;
    std::unique_ptr<QDBusConnection> program_;
    std::unique_ptr<GnomePlatform> platform_;
};

// A rest, the pointer, the square at it and everything the extension tells while it is up.
TEST_F(GnomePlatformTest, RestPointerSquareAndWhatHappensOnIt) {
    ASSERT_TRUE(waitFor([&] { return platform_->isProcessTrusted(false); }));
    int rests = 0;
    platform_->scheduleIdleTimer(2.5, [&] { ++rests; });
    ASSERT_TRUE(ordered(QStringLiteral("WatchIdle")));
    EXPECT_EQ(extension_.last(QStringLiteral("WatchIdle")), QVariantList{2500U});
    report(QStringLiteral("Idled"));
    report(QStringLiteral("Idled"));
    EXPECT_TRUE(waitFor([&] { return rests == 1; }));

    std::vector<uint32_t> seen;
    platform_->addGlobalMonitor(~0ULL, [&](uint32_t type) { seen.push_back(type); });
    std::vector<uint32_t> presses;
    auto tap = platform_->createEventTap(0, recording(presses));
    // Shift held as the square comes: it must let every press through from the start.
    for (const uint modifiers : {1U, 0U}) {
        extension_.modifiers = modifiers;
        std::optional<Point> located;
        platform_->locatePointer([&](std::optional<Point> at) { located = at; });
        ASSERT_TRUE(waitFor([&] { return located.has_value(); }));
        tap->setEnabled(true);
        ASSERT_TRUE(waitFor([&] {
            return extension_.last(QStringLiteral("SetGuarding")) == QVariantList{modifiers == 0};
        })) << modifiers;
        tap->setEnabled(false);
    }
    tap->setEnabled(true);

    auto square = platform_->createOverlaySurface(Rect{{0, 0}, {80, 80}});
    const Point at = platform_->mouseLocation();
    square->setFrame(Rect{{at.x - 40, at.y - 40}, {80, 80}});
    square->orderFrontRegardless();
    ASSERT_TRUE(ordered(QStringLiteral("ShowSquare")) && ordered(QStringLiteral("WatchInput")));
    const QVariantList placed = extension_.last(QStringLiteral("SetSquare"));
    ASSERT_EQ(placed.size(), 4);
    EXPECT_EQ(QPointF(placed[0].toDouble(), placed[1].toDouble()), QPointF(460, 360))
        << "centred on the pointer in the Shell's coordinates";
    // The Shell reads the drawing's numbers only as arrays of doubles.
    const auto drawing = qdbus_cast<QVariantMap>(placed[3].value<QDBusArgument>());
    for (const char* list : {"outer", "inner", "outerFill", "outerStroke", "innerStroke"}) {
        EXPECT_EQ(drawing.value(QLatin1String(list)).value<QDBusArgument>().currentSignature(),
                  QStringLiteral("ad"))
            << list;
    }

    report(QStringLiteral("SquarePressed"), {3U, 500.0, 400.0});
    EXPECT_TRUE(waitFor([&] { return presses == std::vector<uint32_t>{kRightMouseDown}; }));
    // Motion on the square is input the Shell tells too: it is motion, not other input.
    report(QStringLiteral("PointerMovedOnSquare"), {505.0, 402.0});
    report(QStringLiteral("InputSeen"));
    ASSERT_TRUE(ordered(QStringLiteral("WatchInput"), 2)) << "watched again after each input";
    settle(100);
    EXPECT_EQ(seen, std::vector<uint32_t>{eventtype::kMouseMoved});
    report(QStringLiteral("InputSeen"));
    EXPECT_TRUE(waitFor([&] { return seen.size() == 2 && seen[1] == eventtype::kKeyDown; }));
    report(QStringLiteral("ScrolledOnSquare"));
    report(QStringLiteral("PointerLeftSquare"));
    EXPECT_TRUE(waitFor([&] { return seen.size() == 4; }));
    EXPECT_EQ(seen[2], eventtype::kScrollWheel);
    EXPECT_FALSE(rectContainsPoint(square->frame(), platform_->mouseLocation()));

    square->orderOut();
    EXPECT_TRUE(ordered(QStringLiteral("HideSquare")) &&
                ordered(QStringLiteral("StopWatchingInput")));
}

// The top bar's button: the menu described, an item chosen, the menu opened, the icon.
TEST_F(GnomePlatformTest, TheMenuIsDescribedAndItsItemsChosen) {
    std::vector<std::shared_ptr<MenuItem>> chosen;
    int opened = 0;
    auto status = platform_->createStatusItem(
        {.menuWillOpen = [&] { ++opened; },
         .performAction =
             [&](const std::shared_ptr<MenuItem>& sender) { chosen.push_back(sender); }});
    auto menu = std::make_shared<Menu>();
    auto enabled = item("Guard clicks", "toggle", true);
    auto snooze = item("Snooze", "");
    snooze->submenu = std::make_shared<Menu>();
    auto hour = item("For 1 Hour", "snooze");
    snooze->submenu->addItem(hour);
    menu->addItem(enabled);
    menu->addItem(snooze);
    menu->addItem(MenuItem::separator());
    menu->addItem(item("Snoozed until 10:00", ""));
    status->setMenu(menu);
    status->setImage(makeMenuBarIcon(false));
    ASSERT_TRUE(ordered(QStringLiteral("SetMenu")) && ordered(QStringLiteral("SetIcon")));
    EXPECT_EQ(extension_.last(QStringLiteral("SetIcon")),
              QVariantList{QStringLiteral("app.dovetrel.Dovetrel-inactive-symbolic")});
    const QJsonArray described =
        QJsonDocument::fromJson(extension_.last(QStringLiteral("SetMenu"))[0].toString().toUtf8())
            .array();
    ASSERT_EQ(described.size(), 4);
    EXPECT_EQ(described[0].toObject()[QStringLiteral("checked")], true);
    EXPECT_EQ(described[2].toObject()[QStringLiteral("separator")], true);
    EXPECT_EQ(described[3].toObject()[QStringLiteral("enabled")], false) << "no action: a label";
    const QJsonObject inner =
        described[1].toObject()[QStringLiteral("submenu")].toArray()[0].toObject();
    EXPECT_EQ(inner[QStringLiteral("label")], QStringLiteral("For 1 Hour"));

    report(QStringLiteral("MenuOpened"));
    report(QStringLiteral("MenuItemActivated"), {inner[QStringLiteral("id")].toInt()});
    report(QStringLiteral("MenuItemActivated"),
           {described[3].toObject()[QStringLiteral("id")].toInt()});
    report(QStringLiteral("MenuItemActivated"), {999});
    EXPECT_TRUE(waitFor([&] { return opened == 1 && !chosen.empty(); }));
    settle(50);
    EXPECT_EQ(chosen, std::vector<std::shared_ptr<MenuItem>>{hour}) << "only items with an action";
}

// The extension going away (a disable, the screen locking, the Shell restarting) in the middle
// of a press, and coming back: no right to guard meanwhile, then everything asked again.
TEST_F(GnomePlatformTest, AnExtensionThatGoesAndComesBackIsAskedEverythingAgain) {
    auto status = platform_->createStatusItem({});
    status->setMenu(std::make_shared<Menu>());
    platform_->scheduleIdleTimer(3, [] {});
    std::vector<uint32_t> presses;
    auto tap = platform_->createEventTap(0, recording(presses));
    tap->setEnabled(true);
    ASSERT_TRUE(ordered(QStringLiteral("WatchIdle")) && ordered(QStringLiteral("SetMenu")));

    report(QStringLiteral("Gone"));
    report(QStringLiteral("SquarePressed"), {1U, 500.0, 400.0});
    ASSERT_TRUE(waitFor([&] { return !platform_->isProcessTrusted(false); }));
    settle(50);
    EXPECT_TRUE(presses.empty()) << "a report of a gone extension means nothing";
    shell_->unregisterService(QStringLiteral("app.dovetrel.Shell"));

    extension_.orders.clear();
    extension_.version = 0;
    shell_->registerService(QStringLiteral("app.dovetrel.Shell"));
    ASSERT_TRUE(ordered(QStringLiteral("Attach")));
    settle(100);
    EXPECT_FALSE(platform_->isProcessTrusted(false)) << "too old an extension";

    shell_->unregisterService(QStringLiteral("app.dovetrel.Shell"));
    extension_.orders.clear();
    extension_.version = 1;
    shell_->registerService(QStringLiteral("app.dovetrel.Shell"));
    EXPECT_TRUE(waitFor([&] { return platform_->isProcessTrusted(false); }));
    EXPECT_TRUE(ordered(QStringLiteral("WatchIdle")) && ordered(QStringLiteral("SetMenu")) &&
                ordered(QStringLiteral("SetGuarding")));
    EXPECT_EQ(extension_.last(QStringLiteral("WatchIdle")), QVariantList{3000U});
    EXPECT_EQ(extension_.last(QStringLiteral("SetGuarding")), QVariantList{true});
}

}  // namespace
}  // namespace dovetrel::app
