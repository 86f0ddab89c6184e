#include "app/settings_file_store.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace dovetrel::app {
namespace {

QString fileSignature(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return QStringLiteral("absent");
    }
    return QStringLiteral("%1:%2:%3.%4")
        .arg(info.st_ino)
        .arg(info.st_size)
        .arg(info.st_mtim.tv_sec)
        .arg(info.st_mtim.tv_nsec);
}

}  // namespace

SettingsFileStore::SettingsFileStore(QString path)
    : path_(std::move(path)),
      settings_(std::make_unique<QSettings>(path_, QSettings::IniFormat)),
      signature_(fileSignature(path_)) {
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this,
            &SettingsFileStore::fileMayHaveChanged);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this,
            &SettingsFileStore::fileMayHaveChanged);
    watch();
}

SettingsFileStore::~SettingsFileStore() = default;

QString SettingsFileStore::defaultPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = QDir::homePath() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/dovetrel/dovetrel.conf");
}

bool SettingsFileStore::reloadIfChanged() const {
    const QString now = fileSignature(path_);
    if (now == signature_) {
        return false;
    }
    signature_ = now;
    settings_ = std::make_unique<QSettings>(path_, QSettings::IniFormat);
    return true;
}

std::optional<std::string> SettingsFileStore::value(std::string_view key) const {
    reloadIfChanged();
    const QVariant stored = settings_->value(QString::fromUtf8(key.data(), qsizetype(key.size())));
    if (!stored.isValid()) {
        return std::nullopt;
    }
    // A hand-written list ("a, b") comes back as a list; as text it reads as unreadable.
    if (stored.typeId() == QMetaType::QStringList) {
        return stored.toStringList().join(QStringLiteral(", ")).toStdString();
    }
    return stored.toString().toStdString();
}

void SettingsFileStore::setValue(std::string_view key, const std::string& text) {
    reloadIfChanged();
    settings_->setValue(QString::fromUtf8(key.data(), qsizetype(key.size())),
                        QString::fromStdString(text));
    settings_->sync();
    signature_ = fileSignature(path_);
    watch();
    notifyObservers();
}

void SettingsFileStore::addChangeObserver(std::function<void()> handler) {
    observers_.push_back(std::move(handler));
}

void SettingsFileStore::watch() {
    // The file is replaced on every save, which ends a watch on it; watching the folder as
    // well sees the new file arrive.
    const QString folder = QFileInfo(path_).absolutePath();
    if (QFileInfo::exists(folder) && !watcher_.directories().contains(folder)) {
        watcher_.addPath(folder);
    }
    if (QFileInfo::exists(path_) && !watcher_.files().contains(path_)) {
        watcher_.addPath(path_);
    }
}

void SettingsFileStore::fileMayHaveChanged() {
    watch();
    if (reloadIfChanged()) {
        notifyObservers();
    }
}

void SettingsFileStore::notifyObservers() {
    for (const auto& observer : observers_) {
        observer();
    }
}

}  // namespace dovetrel::app
