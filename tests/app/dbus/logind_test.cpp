#include "app/dbus/logind.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVirtualObject>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "support/x_session.h"

namespace dovetrel::app {
namespace {

const QString kSessionPath = QStringLiteral("/org/freedesktop/login1/session/c7");

using support::waitFor;

// logind as far as the program asks it: the session named by XDG_SESSION_ID is unknown (as
// for a process started outside the session), the one found by pid is c7.
class FakeLogindManager : public QDBusVirtualObject {
  public:
    QString introspect(const QString&) const override { return {}; }

    bool handleMessage(const QDBusMessage& message, const QDBusConnection& connection) override {
        lookups.append(message.member());
        return connection.send(
            message.member() == QStringLiteral("GetSessionByPID")
                ? message.createReply(QVariant::fromValue(QDBusObjectPath(kSessionPath)))
                : message.createErrorReply(QStringLiteral("org.freedesktop.login1.NoSuchSession"),
                                           QString()));
    }

    QStringList lookups;
};

// A private bus standing in for the system bus, with the fake logind on it.
class LogindTest : public ::testing::Test {
  protected:
    void SetUp() override {
        support::ensureApplication(
            [](int& argc, char** argv) { new QCoreApplication(argc, argv); });
        const QString socket = folder_.filePath(QStringLiteral("bus"));
        daemon_.start(QStringLiteral("dbus-daemon"),
                      {QStringLiteral("--session"), QStringLiteral("--nofork"),
                       QStringLiteral("--address=unix:path=") + socket});
        ASSERT_TRUE(waitFor([&] { return QFileInfo::exists(socket); }));
        const QByteArray address = "unix:path=" + socket.toUtf8();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address);
        qputenv("XDG_SESSION_ID", "unknown");
        logind_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QString::fromUtf8(address), QStringLiteral("logind")));
        ASSERT_TRUE(logind_->registerService(QStringLiteral("org.freedesktop.login1")));
        ASSERT_TRUE(
            logind_->registerVirtualObject(QStringLiteral("/org/freedesktop/login1"), &manager_));
        listener_ = std::make_unique<Logind>(
            [this](WorkspaceNotification name) { told_.push_back(name); }, [this] { ++locked_; });
    }

    void TearDown() override {
        QDBusConnection::disconnectFromBus(QStringLiteral("logind"));
        daemon_.kill();
        daemon_.waitForFinished();
    }

    void announceSession(const QVariantMap& changed) {
        logind_->send(QDBusMessage::createSignal(kSessionPath,
                                                 QStringLiteral("org.freedesktop.DBus.Properties"),
                                                 QStringLiteral("PropertiesChanged"))
                      << QStringLiteral("org.freedesktop.login1.Session") << changed
                      << QStringList());
    }

    void announceSleep(bool start) {
        logind_->send(QDBusMessage::createSignal(QStringLiteral("/org/freedesktop/login1"),
                                                 QStringLiteral("org.freedesktop.login1.Manager"),
                                                 QStringLiteral("PrepareForSleep"))
                      << start);
    }

    FakeLogindManager manager_;
    QTemporaryDir folder_;
    QProcess daemon_;
    std::unique_ptr<QDBusConnection> logind_;
    std::vector<WorkspaceNotification> told_;
    int locked_ = 0;
    std::unique_ptr<Logind> listener_;
};

TEST_F(LogindTest, FollowsTheLogindSessionAndReportsOnlyTurns) {
    // The session is followed once the answer has come back; until then announcements miss.
    ASSERT_TRUE(waitFor([&] {
        announceSession({{QStringLiteral("LockedHint"), true}});
        return locked_ > 0;
    }));
    EXPECT_EQ(manager_.lookups, (QStringList{"GetSession", "GetSessionByPID"}));
    // One bus, one sender: the signals arrive in order, so the last one awaited shows that
    // all before it were handled.
    announceSession({{QStringLiteral("LockedHint"), true}});
    announceSession({{QStringLiteral("Active"), false}});
    announceSession({{QStringLiteral("Active"), false}});
    announceSleep(false);
    announceSession({{QStringLiteral("Active"), true}});
    announceSession({{QStringLiteral("LockedHint"), false}});
    announceSession({{QStringLiteral("Active"), false}, {QStringLiteral("LockedHint"), true}});
    announceSleep(true);
    using enum WorkspaceNotification;
    ASSERT_TRUE(waitFor([&] { return !told_.empty() && told_.back() == screensDidSleep; }));
    EXPECT_EQ(told_, (std::vector{sessionDidResignActive, didWake, sessionDidResignActive,
                                  screensDidSleep}));
    EXPECT_EQ(locked_, 2);

    // Locked until logind says otherwise.
    EXPECT_TRUE(listener_->locked());
    announceSession({{QStringLiteral("LockedHint"), false}});
    announceSleep(false);
    ASSERT_TRUE(waitFor([&] { return told_.size() == 5; }));
    EXPECT_EQ(told_.back(), didWake);
    EXPECT_FALSE(listener_->locked());
}

}  // namespace
}  // namespace dovetrel::app
