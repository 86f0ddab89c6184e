#include "app/qt/settings_file_store.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <filesystem>
#include <thread>

#include "core/preferences.h"
#include "support/x_session.h"

namespace dovetrel::app {
namespace {

using namespace std::chrono_literals;
using support::waitFor;

std::filesystem::file_type typeAt(const QString& path) {
    return std::filesystem::symlink_status(path.toStdString()).type();
}

class SettingsFileStoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        support::ensureApplication(
            [](int& argc, char** argv) { new QCoreApplication(argc, argv); });
    }

    QTemporaryDir home;
    QString path = home.path() + QStringLiteral("/dovetrel/dovetrel.conf");

    QString fileText() const {
        return QString::fromStdString(support::readText(path.toStdString()));
    }

    // Writes `text` to the settings file, or to `other`, making the folder.
    void writeByHand(const QString& text, const QString& other = {}) {
        // File times have a coarse grain on some file systems; make the change visible.
        std::this_thread::sleep_for(20ms);
        QFile file(other.isEmpty() ? path : other);
        QDir().mkpath(QFileInfo(file).absolutePath());
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }
};

// The launcher of the session, not the shell, may start the program: no HOME to go by.
TEST_F(SettingsFileStoreTest, WithoutHomeLivesInThePasswordDatabasesHomeFolder) {
    const QByteArray homeVariable = qgetenv("HOME");
    qunsetenv("HOME");
    qunsetenv("XDG_CONFIG_HOME");
    const QString withoutHome = SettingsFileStore::defaultPath();
    qputenv("HOME", homeVariable);
    const passwd* entry = ::getpwuid(::getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(withoutHome,
              QString::fromLocal8Bit(entry->pw_dir) + "/.config/dovetrel/dovetrel.conf");
}

TEST_F(SettingsFileStoreTest, WritesReachTheFileAtOnceAndHandEditsShowWithoutARestart) {
    SettingsFileStore store(path);
    int changes = 0;
    store.addChangeObserver([&] { ++changes; });
    Preferences preferences(store);
    EXPECT_EQ(preferences.idleTimeout(), 3.0);
    EXPECT_FALSE(QFile::exists(path)) << "a read must not write defaults";

    preferences.setIsEnabled(false);
    preferences.setLastGrantedBuild("12");
    EXPECT_EQ(changes, 2) << "our own writes are told too";
    const QString text = fileText();
    EXPECT_TRUE(text.contains("[General]") && text.contains("isEnabled=false") &&
                text.contains("lastGrantedBuild=12"))
        << text.toStdString();

    writeByHand("[General]\nidleTimeout=6.5\nzoneSize=120\n");
    EXPECT_EQ(preferences.idleTimeout(), 6.5);
    EXPECT_EQ(preferences.zoneSize(), 120);
    // The next write keeps the edit.
    preferences.setIsEnabled(true);
    const QString edited = fileText();
    EXPECT_TRUE(edited.contains("idleTimeout=6.5") && edited.contains("zoneSize=120"))
        << edited.toStdString();
}

TEST_F(SettingsFileStoreTest, HandWrittenValuesReadAsMeantAndTheFileIsLeftAlone) {
    // 0 and 1 for booleans, a leading +, and a value the INI reader takes for a list.
    const QString original =
        "[General]\nidleTimeout=+4.5\nzoneSize=1, 2\nisEnabled=0\nlaunchAtLogin=1\n";
    writeByHand(original);
    SettingsFileStore store(path);
    const Preferences preferences(store);
    EXPECT_EQ(preferences.idleTimeout(), 4.5);
    EXPECT_EQ(preferences.zoneSize(), 80.0);
    EXPECT_FALSE(preferences.isEnabled());
    EXPECT_TRUE(preferences.launchAtLogin());
    EXPECT_EQ(fileText(), original);
}

TEST_F(SettingsFileStoreTest, WithoutARegularFileRunsOnDefaultsSaysSoOnceAndWritesNothing) {
    const struct {
        const char* name;
        bool fifo;         // a FIFO at the path, or at the link's target
        const char* link;  // the path is a link to this, in its folder
        const char* said;
    } cases[] = {
        {"a FIFO", true, nullptr, "is not a regular file"},
        {"a link to a FIFO", true, "fifo", "is not a regular file"},
        {"a link to a folder", false, ".", "is not a regular file"},
        {"a link to nothing", false, "gone", "is a link to nothing"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QTemporaryDir folder;
        const QString at = folder.filePath(QStringLiteral("dovetrel.conf"));
        const QString target = c.link ? folder.filePath(QString::fromLatin1(c.link)) : at;
        ASSERT_TRUE(!c.fifo || ::mkfifo(QFile::encodeName(target), 0600) == 0);
        ASSERT_TRUE(!c.link || QFile::link(target, at));
        const auto before = typeAt(at);
        const auto targetType = std::filesystem::status(at.toStdString()).type();

        // A store that waited on the FIFO would hang here until the suite's time limit.
        ::testing::internal::CaptureStderr();
        {
            SettingsFileStore store(at);
            Preferences preferences(store);
            EXPECT_EQ(preferences.idleTimeout(), 3.0);
            preferences.setIdleTimeout(5);
            EXPECT_EQ(preferences.idleTimeout(), 5.0) << "a change still holds for this run";
        }
        const std::string said = ::testing::internal::GetCapturedStderr();
        EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
        EXPECT_NE(said.find(c.said), std::string::npos) << said;
        EXPECT_EQ(typeAt(at), before);
        EXPECT_EQ(std::filesystem::status(at.toStdString()).type(), targetType);
    }
}

TEST_F(SettingsFileStoreTest, SavesThroughALinkToARegularFileAndKeepsTheLink) {
    const QString target = home.path() + "/dotfiles.conf";
    writeByHand("[General]\nzoneSize=120\n", target);
    QDir().mkpath(home.path() + "/dovetrel");
    ASSERT_TRUE(QFile::link(target, path));
    SettingsFileStore store(path);
    Preferences preferences(store);
    EXPECT_EQ(preferences.zoneSize(), 120.0);
    preferences.setIdleTimeout(4);

    EXPECT_EQ(typeAt(path), std::filesystem::file_type::symlink);
    EXPECT_EQ(QFile::symLinkTarget(path), target);
    const QString text = fileText();
    EXPECT_TRUE(text.contains("zoneSize=120") && text.contains("idleTimeout=4"))
        << text.toStdString();
}

TEST_F(SettingsFileStoreTest, SaysOnceWhenNothingCanBeSavedAndKeepsChangesForTheRun) {
    // A file where the folder should be stops even root from saving.
    QFile blocker(home.path() + "/dovetrel");
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    ::testing::internal::CaptureStderr();
    SettingsFileStore store(path);
    Preferences preferences(store);
    preferences.setIdleTimeout(5);
    preferences.setZoneSize(100);
    const std::string said = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(said.rfind("dovetrel.settings: cannot save settings to " + path.toStdString(), 0), 0u)
        << said;
    EXPECT_EQ(std::count(said.begin(), said.end(), '\n'), 1) << said;
    EXPECT_EQ(preferences.idleTimeout(), 5.0);
    EXPECT_EQ(preferences.zoneSize(), 100.0);

    // Once the folder can be made, the next write saves what waited.
    ASSERT_TRUE(blocker.remove());
    preferences.setIsEnabled(false);
    const QString text = fileText();
    EXPECT_TRUE(text.contains("idleTimeout=5") && text.contains("zoneSize=100") &&
                text.contains("isEnabled=false"))
        << text.toStdString();

    // A file that holds the key already, with a name that leaves no room for the temporary
    // file a save writes beside it: the change still wins over what the file says.
    const QString longest = home.path() + "/dovetrel/" + QString(NAME_MAX, QLatin1Char('x'));
    writeByHand("[General]\nidleTimeout=6.5\n", longest);
    ::testing::internal::CaptureStderr();
    SettingsFileStore unsaved(longest);
    Preferences held(unsaved);
    held.setIdleTimeout(4);
    EXPECT_NE(::testing::internal::GetCapturedStderr().find("cannot save"), std::string::npos);
    EXPECT_EQ(held.idleTimeout(), 4.0);
}

TEST_F(SettingsFileStoreTest, SeesRewritesThatKeepTheSizeAndTime) {
    SettingsFileStore store(path);
    Preferences preferences(store);
    int changes = 0;
    store.addChangeObserver([&] { ++changes; });
    preferences.setIdleTimeout(5);
    // Rewrites the file in place, same size, and puts its old time back as `cp -p` does.
    const auto rewriteKeepingTime = [&](const QString& from, const QString& to) {
        struct stat before {};
        ASSERT_EQ(::stat(QFile::encodeName(path), &before), 0);
        writeByHand(fileText().replace(from, to));
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path), times, 0), 0);
        changes = 0;
    };

    rewriteKeepingTime("idleTimeout=5", "idleTimeout=7");
    // A write made before the change was noticed keeps the edit.
    preferences.setZoneSize(90);
    EXPECT_EQ(preferences.idleTimeout(), 7.0);
    EXPECT_TRUE(fileText().contains("idleTimeout=7")) << fileText().toStdString();

    // Noticed by itself, and still after the save has replaced the file.
    rewriteKeepingTime("idleTimeout=7", "idleTimeout=8");
    EXPECT_TRUE(waitFor([&] { return changes > 0; }));
    EXPECT_EQ(preferences.idleTimeout(), 8.0);
    rewriteKeepingTime("zoneSize=90", "zoneSize=95");
    EXPECT_TRUE(waitFor([&] { return changes > 0; }));
    EXPECT_EQ(preferences.zoneSize(), 95.0);
}

}  // namespace
}  // namespace dovetrel::app
