// The real binary's command line, run where there is no display at all, as a packager's
// build machine or a user's first `dovetrel --version` would.
#include <gtest/gtest.h>

#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>

namespace dovetrel::e2e {
namespace {

struct Outcome {
    int status = -1;
    QString out;
    QString err;
};

Outcome runWithoutDisplay(const QStringList& arguments) {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) {
        environment.remove(QString::fromLatin1(name));
    }
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(DOVETREL_BINARY), arguments);
    Outcome outcome;
    if (process.waitForFinished(10000) && process.exitStatus() == QProcess::NormalExit) {
        outcome.status = process.exitCode();
    }
    outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
    return outcome;
}

TEST(CommandLine, AnswersWithoutADisplayAndRefusesWhatItDoesNotKnow) {
    const QString usage = QStringLiteral("^Usage: \\S*dovetrel \\[options\\]\\n[\\s\\S]*--version");
    const struct {
        QStringList arguments;
        int status;
        QString out;  // patterns
        QString err;
    } cases[] = {
        {{QStringLiteral("--version")},
         0,
         QStringLiteral("^dovetrel 0\\.1\\.3 \\(build \\w+\\)\\n$"),
         QStringLiteral("^$")},
        {{QStringLiteral("-v")}, 0, QStringLiteral("^dovetrel 0\\.1\\.3 "), QStringLiteral("^$")},
        {{QStringLiteral("--help")}, 0, usage, QStringLiteral("^$")},
        {{QStringLiteral("-h")}, 0, usage, QStringLiteral("^$")},
        {{QStringLiteral("--frobnicate")},
         2,
         QStringLiteral("^$"),
         QStringLiteral("^dovetrel: Unknown option 'frobnicate'.\\n\\nUsage: ")},
        {{QStringLiteral("settings.conf")},
         2,
         QStringLiteral("^$"),
         QStringLiteral("^dovetrel: Unexpected argument 'settings.conf'.\\n\\nUsage: ")},
        // No option is needed to run; here the missing display is what stops it.
        {{}, 1, QStringLiteral("^$"), QStringLiteral("^dovetrel: no X display[^\\n]*\\n$")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.join(QLatin1Char(' ')).toStdString());
        const Outcome outcome = runWithoutDisplay(c.arguments);
        EXPECT_EQ(outcome.status, c.status);
        EXPECT_TRUE(QRegularExpression(c.out).match(outcome.out).hasMatch())
            << outcome.out.toStdString();
        EXPECT_TRUE(QRegularExpression(c.err).match(outcome.err).hasMatch())
            << outcome.err.toStdString();
    }
}

}  // namespace
}  // namespace dovetrel::e2e
