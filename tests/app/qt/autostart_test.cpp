// The XDG autostart entry: where it goes, and whether its Exec key starts exactly the
// program it names, however odd that program's path, as read by the readers a session uses.
#include "app/qt/autostart.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "support/x_session.h"

namespace dovetrel::app {
namespace {

class AutostartTest : public ::testing::Test {
  protected:
    void SetUp() override { qputenv("XDG_CONFIG_HOME", home.path().toUtf8()); }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    QTemporaryDir home;
};

TEST_F(AutostartTest, TheEntryStartsTheProgramUnderAnAwkwardPath) {
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    ASSERT_FALSE(gio.isEmpty() || validator.isEmpty()) << "scripts/install-deps installs both";
    // Every character the Exec key's quoting treats specially, an apostrophe that needs the
    // quotes by itself, a % that also defeats the readers' lookup of the program, and the
    // control characters a desktop entry's strings escape.
    for (const QString& name :
         {QStringLiteral(R"(with space/"q" $x `y` back\slash 5%)"),
          QStringLiteral(R"(it's "quoted" here)"), QStringLiteral("o'neil/bin"),
          QStringLiteral("tab\tand\nline"), QStringLiteral("plain")}) {
        const QString folder = home.filePath(name);
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString program = folder + QStringLiteral("/dovetrel");
        const QString started = folder + QStringLiteral("/started");
        {
            QFile script(program);
            ASSERT_TRUE(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\ntouch \"$(dirname \"$0\")/started\"\n");
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        SCOPED_TRACE(program.toStdString());

        EXPECT_EQ(autostartFilePath(), home.filePath(QStringLiteral("autostart/dovetrel.desktop")));
        ASSERT_TRUE(registerAutostart(program));
        // The validator's complaints reach the test's output.
        EXPECT_EQ(QProcess::execute(validator, {autostartFilePath()}), 0);
        EXPECT_EQ(QProcess::execute(gio, {QStringLiteral("launch"), autostartFilePath()}), 0);
        EXPECT_TRUE(support::waitFor([&] { return QFile::exists(started); }))
            << "GLib did not start it";
    }

    EXPECT_TRUE(unregisterAutostart());
    EXPECT_FALSE(QFile::exists(autostartFilePath()));
    EXPECT_TRUE(unregisterAutostart()) << "already gone counts as gone";
}

TEST_F(AutostartTest, ReportsAFolderThatCannotBeMade) {
    // A plain file where the configuration folder should be stops even root.
    QFile blocker(home.filePath(QStringLiteral("config")));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    qputenv("XDG_CONFIG_HOME", blocker.fileName().toUtf8());
    EXPECT_FALSE(registerAutostart(QStringLiteral("/usr/bin/dovetrel")));

    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(
        autostartFilePath().endsWith(QStringLiteral("/.config/autostart/dovetrel.desktop")));
}

}  // namespace
}  // namespace dovetrel::app
