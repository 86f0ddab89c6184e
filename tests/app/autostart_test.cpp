// The XDG autostart entry: where it goes, and whether its Exec key starts exactly the
// program it names, however odd that program's path, as read by this file's reader and by
// the ones a session uses.
#include "app/autostart.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <vector>

namespace dovetrel::app {
namespace {

// Reads an Exec value back as a launcher does: the string escapes of the value first, then
// the quoting of arguments, then %% as a literal percent.
std::vector<QString> execArguments(const QString& value) {
    QString text;
    for (qsizetype i = 0; i < value.size(); ++i) {
        if (value[i] == QLatin1Char('\\') && i + 1 < value.size()) {
            const QChar next = value[++i];
            text += next == QLatin1Char('s')   ? QChar(' ')
                    : next == QLatin1Char('n') ? QChar('\n')
                    : next == QLatin1Char('t') ? QChar('\t')
                    : next == QLatin1Char('r') ? QChar('\r')
                                               : next;
        } else {
            text += value[i];
        }
    }
    std::vector<QString> arguments;
    QString current;
    bool started = false;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (quoted && c == QLatin1Char('\\') && i + 1 < text.size() &&
            QStringLiteral("\"`$\\").contains(text[i + 1])) {
            current += text[++i];
        } else if (c == QLatin1Char('"')) {
            quoted = !quoted;
            started = true;
        } else if (c == QLatin1Char(' ') && !quoted) {
            if (started) {
                arguments.push_back(current);
            }
            current.clear();
            started = false;
        } else {
            current += c;
            started = true;
        }
    }
    if (started) {
        arguments.push_back(current);
    }
    for (QString& argument : arguments) {
        argument.replace(QStringLiteral("%%"), QStringLiteral("%"));
    }
    return arguments;
}

QString keyOf(const QString& entry, const QString& key) {
    for (const QString& line : entry.split(QLatin1Char('\n'))) {
        if (line.startsWith(key + QLatin1Char('='))) {
            return line.mid(key.size() + 1);
        }
    }
    return {};
}

QString readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class AutostartTest : public ::testing::Test {
  protected:
    void SetUp() override { qputenv("XDG_CONFIG_HOME", home.path().toUtf8()); }
    void TearDown() override { qunsetenv("XDG_CONFIG_HOME"); }

    QTemporaryDir home;
};

TEST(AutostartQuoting, FollowsTheDesktopEntryRules) {
    const std::vector<std::pair<QString, QString>> cases{
        {"/usr/bin/dovetrel", "/usr/bin/dovetrel"},
        {"/opt/My Apps/dovetrel", R"("/opt/My Apps/dovetrel")"},
        {R"(/opt/say "hi"/dovetrel)", R"("/opt/say \\"hi\\"/dovetrel")"},
        {R"(/opt/back\slash/dovetrel)", R"("/opt/back\\\\slash/dovetrel")"},
        {"/opt/$HOME/dovetrel", R"("/opt/\\$HOME/dovetrel")"},
        {"/opt/`id`/dovetrel", R"("/opt/\\`id\\`/dovetrel")"},
        {"/opt/it's/dovetrel", R"("/opt/it's/dovetrel")"},
        {"/opt/100%/dovetrel", "/opt/100%%/dovetrel"},
        {"/opt/tab\there/dovetrel", R"("/opt/tab\there/dovetrel")"},
    };
    for (const auto& [path, expected] : cases) {
        EXPECT_EQ(quotedExecArgument(path), expected) << path.toStdString();
        EXPECT_EQ(execArguments(quotedExecArgument(path)), std::vector<QString>{path})
            << path.toStdString();
    }
}

// Whether `program` (a script made by the test) has run since it was made.
bool started(const QString& program) {
    return QFile::exists(QFileInfo(program).absolutePath() + QStringLiteral("/started"));
}

TEST_F(AutostartTest, TheEntryStartsTheProgramUnderAnAwkwardPath) {
    const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
    const QString validator =
        QStandardPaths::findExecutable(QStringLiteral("desktop-file-validate"));
    // A % defeats the readers' lookup of the program; quotes and spaces only its quoting.
    for (const QString& name : {QStringLiteral(R"(with space/"q" $x `y` back\slash 5%)"),
                                QStringLiteral(R"(it's "quoted" here)")}) {
        const QString folder = home.path() + QLatin1Char('/') + name;
        ASSERT_TRUE(QDir().mkpath(folder));
        const QString program = folder + QStringLiteral("/dovetrel");
        {
            QFile script(program);
            ASSERT_TRUE(script.open(QIODevice::WriteOnly));
            script.write("#!/bin/sh\ntouch \"$(dirname \"$0\")/started\"\n");
            script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        }
        SCOPED_TRACE(program.toStdString());

        EXPECT_EQ(autostartFilePath(), home.path() + QStringLiteral("/autostart/dovetrel.desktop"));
        ASSERT_TRUE(registerAutostart(program));
        const QString entry = readAll(autostartFilePath());
        EXPECT_TRUE(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
        EXPECT_EQ(keyOf(entry, QStringLiteral("Type")), QStringLiteral("Application"));
        EXPECT_EQ(keyOf(entry, QStringLiteral("Name")), QStringLiteral("Dovetrel"));

        auto arguments = execArguments(keyOf(entry, QStringLiteral("Exec")));
        ASSERT_FALSE(arguments.empty());
        EXPECT_EQ(arguments.back(), program);
        EXPECT_FALSE(arguments.front().contains(QLatin1Char('%')))
            << "readers look the program up before undoing %%";
        const QString command = arguments.front();
        arguments.erase(arguments.begin());
        EXPECT_EQ(QProcess::execute(command, QStringList(arguments.begin(), arguments.end())), 0);
        EXPECT_TRUE(started(program));

        // The readers a session uses: desktop-file-validate's rules and GLib's launcher.
        if (!validator.isEmpty()) {
            QProcess validate;
            validate.start(validator, {autostartFilePath()});
            ASSERT_TRUE(validate.waitForFinished());
            EXPECT_EQ(validate.exitCode(), 0) << validate.readAllStandardOutput().toStdString();
        }
        if (!gio.isEmpty()) {
            QFile::remove(folder + QStringLiteral("/started"));
            EXPECT_EQ(QProcess::execute(gio, {QStringLiteral("launch"), autostartFilePath()}), 0);
            QElapsedTimer waited;
            waited.start();
            while (!started(program) && waited.elapsed() < 5000) {
                QThread::msleep(20);
            }
            EXPECT_TRUE(started(program)) << "GLib did not start it";
        }
    }

    EXPECT_TRUE(unregisterAutostart());
    EXPECT_FALSE(QFile::exists(autostartFilePath()));
    EXPECT_TRUE(unregisterAutostart()) << "already gone counts as gone";
}

TEST_F(AutostartTest, ReportsAFolderThatCannotBeMade) {
    // A plain file where the configuration folder should be stops even root.
    QFile blocker(home.path() + QStringLiteral("/config"));
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
