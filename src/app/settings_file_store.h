// Preferences in an INI file that other programs and people may edit while we run.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QSettings>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

#include "core/platform.h"

namespace dovetrel::app {

class SettingsFileStore : public QObject, public PreferenceStore {
  public:
    // The file at `path`; it and its folder are created at the first write.
    explicit SettingsFileStore(QString path);
    ~SettingsFileStore() override;

    // $XDG_CONFIG_HOME/dovetrel/dovetrel.conf, or ~/.config/dovetrel/dovetrel.conf.
    static QString defaultPath();

    std::optional<std::string> value(std::string_view key) const override;
    void setValue(std::string_view key, const std::string& text) override;
    void addChangeObserver(std::function<void()> handler) override;

  private:
    // Re-reads the file when it changed on disk since we last looked; true when it did.
    bool reloadIfChanged() const;
    void watch();
    void fileMayHaveChanged();
    void notifyObservers();

    QString path_;
    mutable std::unique_ptr<QSettings> settings_;
    // Identity of the file as last read: a hand edit, or a replacement, changes it.
    mutable QString signature_;
    QFileSystemWatcher watcher_;
    std::vector<std::function<void()>> observers_;
};

}  // namespace dovetrel::app
