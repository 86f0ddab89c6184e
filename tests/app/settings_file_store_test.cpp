#include "app/settings_file_store.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <thread>

#include "core/preferences.h"

namespace dovetrel::app {
namespace {

class SettingsFileStoreTest : public ::testing::Test {
  protected:
    QTemporaryDir home;
    QString path = home.path() + QStringLiteral("/dovetrel/dovetrel.conf");

    QString fileText() const {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            return {};
        }
        return QString::fromUtf8(file.readAll());
    }

    void writeByHand(const QString& text) {
        // File times have a coarse grain on some file systems; make the change visible.
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text.toUtf8());
    }
};

TEST_F(SettingsFileStoreTest, LivesUnderXdgConfigHome) {
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    EXPECT_EQ(SettingsFileStore::defaultPath(), path);
    qunsetenv("XDG_CONFIG_HOME");
    EXPECT_TRUE(SettingsFileStore::defaultPath().endsWith("/.config/dovetrel/dovetrel.conf"));
}

TEST_F(SettingsFileStoreTest, WritesReachTheFileAtOnceInTheGeneralSection) {
    SettingsFileStore store(path);
    Preferences preferences(store);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(preferences.idleTimeout(), 3.0);
    EXPECT_FALSE(QFile::exists(path)) << "a read must not write defaults";

    preferences.setIdleTimeout(4.5);
    preferences.setIsEnabled(false);
    preferences.setLastGrantedBuild("12");
    const QString text = fileText();
    EXPECT_TRUE(text.contains("[General]"));
    EXPECT_TRUE(text.contains("idleTimeout=4.5"));
    EXPECT_TRUE(text.contains("isEnabled=false"));
    EXPECT_TRUE(text.contains("lastGrantedBuild=12"));

    SettingsFileStore reopened(path);
    const Preferences again(reopened);
    EXPECT_EQ(again.idleTimeout(), 4.5);
    EXPECT_FALSE(again.isEnabled());
    EXPECT_EQ(again.lastGrantedBuild(), "12");
}

TEST_F(SettingsFileStoreTest, SeesAHandEditWithoutARestartAndKeepsItOnTheNextWrite) {
    SettingsFileStore store(path);
    Preferences preferences(store);
    preferences.setIdleTimeout(2);
    writeByHand("[General]\nidleTimeout=6.5\nzoneSize=120\n");
    EXPECT_EQ(preferences.idleTimeout(), 6.5);
    EXPECT_EQ(preferences.zoneSize(), 120);

    preferences.setIsEnabled(false);
    const QString text = fileText();
    EXPECT_TRUE(text.contains("idleTimeout=6.5"));
    EXPECT_TRUE(text.contains("zoneSize=120"));
}

TEST_F(SettingsFileStoreTest, UnreadableValuesReadAsDefaultsAndTheFileIsLeftAlone) {
    const QString original =
        "[General]\nidleTimeout=nan\nzoneSize=-5\nisEnabled=perhaps\nlaunchAtLogin=1, 2\n";
    QDir().mkpath(home.path() + "/dovetrel");
    writeByHand(original);
    SettingsFileStore store(path);
    const Preferences preferences(store);
    EXPECT_EQ(preferences.idleTimeout(), 3.0);
    EXPECT_EQ(preferences.zoneSize(), 80.0);
    EXPECT_TRUE(preferences.isEnabled());
    EXPECT_FALSE(preferences.launchAtLogin());
    EXPECT_EQ(fileText(), original);
}

TEST_F(SettingsFileStoreTest, TellsObserversOfOwnWrites) {
    SettingsFileStore store(path);
    int changes = 0;
    store.addChangeObserver([&] { ++changes; });
    Preferences(store).setZoneSize(90);
    EXPECT_EQ(changes, 1);
}

}  // namespace
}  // namespace dovetrel::app
