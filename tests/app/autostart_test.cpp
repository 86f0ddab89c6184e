// The XDG autostart entry: where it goes, and whether its Exec key starts exactly the
// program it names, however odd that program's path.
#include "app/autostart.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
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

TEST_F(AutostartTest, TheEntryStartsTheProgramUnderAnAwkwardPath) {
    const QString folder = home.path() + QStringLiteral(R"(/with space/"q" $x `y` back\slash 5%)");
    ASSERT_TRUE(QDir().mkpath(folder));
    const QString program = folder + QStringLiteral("/dovetrel");
    {
        QFile script(program);
        ASSERT_TRUE(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\ntouch \"$(dirname \"$0\")/started\"\n");
        script.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

    EXPECT_EQ(autostartFilePath(), home.path() + QStringLiteral("/autostart/dovetrel.desktop"));
    ASSERT_TRUE(registerAutostart(program));
    const QString entry = readAll(autostartFilePath());
    EXPECT_TRUE(entry.startsWith(QStringLiteral("[Desktop Entry]\n")));
    EXPECT_EQ(keyOf(entry, QStringLiteral("Type")), QStringLiteral("Application"));
    EXPECT_EQ(keyOf(entry, QStringLiteral("Name")), QStringLiteral("Dovetrel"));

    const auto arguments = execArguments(keyOf(entry, QStringLiteral("Exec")));
    ASSERT_EQ(arguments, std::vector<QString>{program});
    EXPECT_EQ(QProcess::execute(arguments.front(), {}), 0);
    EXPECT_TRUE(QFile::exists(folder + QStringLiteral("/started")));

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
