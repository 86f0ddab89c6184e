// Preferences in an INI file that other programs and people may edit while we run.
#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTemporaryFile>
#include <QVariantMap>
#include <functional>
#include <memory>
#include <vector>

#include "core/platform.h"

namespace dovetrel::app {

class SettingsFileStore : public QObject, public PreferenceStore {
  public:
    // The file at `path`; it and its folder are created at the first write. Only a regular
    // file, or a symbolic link to one, is read or replaced: while anything else is at the
    // path, or the file cannot be read, every key reads as absent and nothing is written.
    // Each of these troubles, and a save that fails, is said once on stderr.
    explicit SettingsFileStore(QString path);
    ~SettingsFileStore() override;

    // $XDG_CONFIG_HOME/dovetrel/dovetrel.conf, or dovetrel/dovetrel.conf under ~/.config,
    // the home folder taken from the password database when HOME is unset.
    static QString defaultPath();

    std::optional<std::string> value(std::string_view key) const override;
    // A value that cannot be saved still holds for the rest of the run, and the next write
    // tries again to save it.
    void setValue(std::string_view key, const std::string& text) override;
    void addChangeObserver(std::function<void()> handler) override;

  private:
    struct Contents;
    // What is at the path now; never waits, whatever is there.
    Contents readFile() const;
    // Parses INI text through QSettings, on a private copy: QSettings keeps files it has
    // read in a cache, and takes a file of the same size and time as unchanged. nullopt
    // when no copy can be made.
    std::optional<QVariantMap> parse(const QByteArray& text) const;
    // A private file holding `text`, removed with the object; none when it cannot be made.
    std::unique_ptr<QTemporaryFile> scratchCopy(const QByteArray& text) const;
    void reloadIfChanged() const;
    void reload() const;
    // Takes what was read as what the file says.
    void use(const Contents& contents) const;
    // Writes the unsaved values into `current`, the file's text, and replaces the file.
    void save(const QByteArray& current);
    void sayOnce(bool& said, const char* format, const QString& detail) const;
    QVariantMap effectiveValues() const;
    void watch();
    void fileMayHaveChanged();
    void notifyObservers();

    QString path_;
    mutable int copies_ = 0;
    // What the file says, and whether it may be replaced.
    mutable QVariantMap fileValues_;
    mutable bool writable_ = false;
    // Values set in this run that have not reached the file yet.
    QVariantMap unsaved_;
    // Identity, size and times of what was last read; a hand edit usually changes it.
    mutable QString signature_;
    // The values observers were last told about.
    QVariantMap notified_;
    mutable bool saidCannotRead_ = false;
    bool saidCannotSave_ = false;
    QFileSystemWatcher watcher_;
    std::vector<std::function<void()>> observers_;
};

}  // namespace dovetrel::app
