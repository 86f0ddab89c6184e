// The real binary's command line, run where there is no display at all, as a packager's
// build machine or a user's first `dovetrel --version` would.
#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>

namespace dovetrel::e2e {
namespace {

TEST(CommandLine, AnswersWithoutADisplayAndRefusesWhatItDoesNotKnow) {
    const char* usage = R"(^Usage: \S*dovetrel \[options\]\n[\s\S]*--version)";
    const struct {
        const char* argument;  // none when null
        int status;
        const char* out;  // patterns
        const char* err;
    } cases[] = {
        {"--version", 0, R"(^dovetrel 0\.1\.3 \(build \w+\)\n$)", "^$"},
        {"-v", 0, R"(^dovetrel 0\.1\.3 )", "^$"},
        {"--help", 0, usage, "^$"},
        {"-h", 0, usage, "^$"},
        {"--frobnicate", 2, "^$", R"(^dovetrel: Unknown option 'frobnicate'.\n\nUsage: )"},
        {"settings.conf", 2, "^$", R"(^dovetrel: Unexpected argument 'settings.conf'.\n\nUsage: )"},
        // No option is needed to run; here the missing display is what stops it.
        {nullptr, 1, "^$", R"(^dovetrel: no X display[^\n]*\n$)"},
    };
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "XDG_SESSION_TYPE"}) {
        environment.remove(QString::fromLatin1(name));
    }
    for (const auto& c : cases) {
        SCOPED_TRACE(c.argument ? c.argument : "no argument");
        QProcess process;
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(DOVETREL_BINARY),
                      c.argument ? QStringList{QString::fromLatin1(c.argument)} : QStringList{});
        ASSERT_TRUE(process.waitForFinished(10000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), c.status);
        const QString out = QString::fromLocal8Bit(process.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(process.readAllStandardError());
        EXPECT_TRUE(QRegularExpression(QString::fromLatin1(c.out)).match(out).hasMatch())
            << out.toStdString();
        EXPECT_TRUE(QRegularExpression(QString::fromLatin1(c.err)).match(err).hasMatch())
            << err.toStdString();
    }
}

}  // namespace
}  // namespace dovetrel::e2e
