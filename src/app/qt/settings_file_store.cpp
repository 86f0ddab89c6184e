#include "app/qt/settings_file_store.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>
#include <cerrno>
#include <cstring>

#include "app/qt/logging.h"

namespace dovetrel::app {

struct SettingsFileStore::Contents {
    enum class Kind { Absent, Regular, Unusable };
    Kind kind = Kind::Absent;
    QByteArray text;
    QString trouble;  // why an unusable file cannot be used
};

namespace {

// What is at the path, following symbolic links: nothing, something other than a regular
// file, or a regular file's identity, size and times.
QString fileSignature(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0) {
        return QStringLiteral("none");
    }
    if (!S_ISREG(info.st_mode)) {
        return QStringLiteral("other");
    }
    return QStringLiteral("%1:%2:%3.%4:%5.%6")
        .arg(info.st_ino)
        .arg(info.st_size)
        .arg(info.st_mtim.tv_sec)
        .arg(info.st_mtim.tv_nsec)
        .arg(info.st_ctim.tv_sec)
        .arg(info.st_ctim.tv_nsec);
}

QString homeFolder() {
    QString home = qEnvironmentVariable("HOME");
    if (home.isEmpty()) {
        // Without HOME, Qt answers "/", which is nobody's settings folder.
        if (const passwd* entry = ::getpwuid(::getuid()); entry != nullptr) {
            home = QFile::decodeName(entry->pw_dir);
        }
    }
    return home.isEmpty() ? QDir::homePath() : home;
}

}  // namespace

SettingsFileStore::SettingsFileStore(QString path) : path_(std::move(path)) {
    reload();
    notified_ = effectiveValues();
    connect(&watcher_, &QFileSystemWatcher::fileChanged, this,
            &SettingsFileStore::fileMayHaveChanged);
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this](const QString& folder) {
        // The folder above ours changes whenever any program's settings do; only a change of
        // what our path names is ours.
        if (folder == QFileInfo(QFileInfo(path_).absolutePath()).absolutePath() &&
            fileSignature(path_) == signature_) {
            watch();
            return;
        }
        fileMayHaveChanged();
    });
    watch();
}

SettingsFileStore::~SettingsFileStore() = default;

QString SettingsFileStore::defaultPath() {
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) {
        base = homeFolder() + QStringLiteral("/.config");
    }
    return base + QStringLiteral("/dovetrel/dovetrel.conf");
}

SettingsFileStore::Contents SettingsFileStore::readFile() const {
    const QByteArray name = QFile::encodeName(path_);
    // A plain open of a FIFO waits for a writer for ever.
    const int descriptor = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (descriptor < 0) {
        const int error = errno;
        struct stat link {};
        if ((error == ENOENT && ::lstat(name.constData(), &link) != 0) || error == ENOTDIR) {
            return {};
        }
        return {Contents::Kind::Unusable,
                {},
                error == ENOENT ? QStringLiteral("%1 is a link to nothing").arg(path_)
                                : QStringLiteral("cannot read %1: %2")
                                      .arg(path_, QString::fromLocal8Bit(std::strerror(error)))};
    }
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(descriptor);
        return {
            Contents::Kind::Unusable, {}, QStringLiteral("%1 is not a regular file").arg(path_)};
    }
    QFile file;
    file.open(descriptor, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    Contents contents{Contents::Kind::Regular, file.readAll(), {}};
    if (file.error() != QFileDevice::NoError) {
        return {Contents::Kind::Unusable,
                {},
                QStringLiteral("cannot read %1: %2").arg(path_, file.errorString())};
    }
    return contents;
}

std::unique_ptr<QTemporaryFile> SettingsFileStore::scratchCopy(const QByteArray& text) const {
    // A name never used before in this process, so that QSettings never answers from its
    // cache.
    auto copy = std::make_unique<QTemporaryFile>(QDir::tempPath() +
                                                 QStringLiteral("/dovetrel-settings-%1-%2-XXXXXX")
                                                     .arg(QCoreApplication::applicationPid())
                                                     .arg(++copies_));
    if (!copy->open() || copy->write(text) != text.size()) {
        return nullptr;
    }
    copy->close();
    return copy;
}

std::optional<QVariantMap> SettingsFileStore::parse(const QByteArray& text) const {
    const auto copy = scratchCopy(text);
    if (!copy) {
        return std::nullopt;
    }
    QVariantMap values;
    const QSettings settings(copy->fileName(), QSettings::IniFormat);
    for (const QString& key : settings.allKeys()) {
        values.insert(key, settings.value(key));
    }
    return values;
}

void SettingsFileStore::reloadIfChanged() const {
    if (fileSignature(path_) != signature_) {
        reload();
    }
}

void SettingsFileStore::reload() const {
    signature_ = fileSignature(path_);
    use(readFile());
}

void SettingsFileStore::use(const Contents& contents) const {
    std::optional<QVariantMap> values;
    QString trouble = contents.trouble;
    if (contents.kind != Contents::Kind::Unusable) {
        values = parse(contents.text);
        if (!values) {
            trouble = QStringLiteral("no temporary file to read %1 through").arg(path_);
        }
    }
    if (!values) {
        fileValues_.clear();
        writable_ = false;
        sayOnce(saidCannotRead_, "%s; running with default settings, saving none", trouble);
        return;
    }
    fileValues_ = std::move(*values);
    writable_ = true;
}

void SettingsFileStore::sayOnce(bool& said, const char* format, const QString& detail) const {
    if (!said) {
        said = true;
        qCWarning(lcSettings, format, qPrintable(detail));
    }
}

QVariantMap SettingsFileStore::effectiveValues() const {
    QVariantMap values = fileValues_;
    values.insert(unsaved_);
    return values;
}

std::optional<std::string> SettingsFileStore::value(std::string_view key) const {
    reloadIfChanged();
    const QString name = QString::fromUtf8(key.data(), qsizetype(key.size()));
    const QVariant stored = unsaved_.value(name, fileValues_.value(name));
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
    unsaved_.insert(QString::fromUtf8(key.data(), qsizetype(key.size())),
                    QString::fromStdString(text));
    // Start from the file as it is now, so that a hand edit made a moment ago is kept.
    signature_ = fileSignature(path_);
    const Contents contents = readFile();
    use(contents);
    if (writable_) {
        save(contents.text);
    }
    notified_ = effectiveValues();
    notifyObservers();
}

void SettingsFileStore::save(const QByteArray& current) {
    QByteArray updated;
    QVariantMap values;
    if (const auto copy = scratchCopy(current)) {
        {
            QSettings settings(copy->fileName(), QSettings::IniFormat);
            for (auto entry = unsaved_.cbegin(); entry != unsaved_.cend(); ++entry) {
                settings.setValue(entry.key(), entry.value());
            }
            settings.sync();
            for (const QString& name : settings.allKeys()) {
                values.insert(name, settings.value(name));
            }
            if (settings.status() != QSettings::NoError) {
                values.clear();
            }
        }
        QFile written(copy->fileName());
        if (!values.isEmpty() && written.open(QIODevice::ReadOnly)) {
            updated = written.readAll();
        }
    }
    // QSaveFile replaces the file a symbolic link points to, and leaves the link.
    QDir().mkpath(QFileInfo(path_).absolutePath());
    QSaveFile file(path_);
    if (!updated.isEmpty() && file.open(QIODevice::WriteOnly) &&
        file.write(updated) == updated.size() && file.commit()) {
        unsaved_.clear();
        fileValues_ = values;
        signature_ = fileSignature(path_);
    } else {
        sayOnce(saidCannotSave_, "cannot save settings to %s; changes last until Dovetrel quits",
                file.error() == QFileDevice::NoError
                    ? path_
                    : path_ + QStringLiteral(" (") + file.errorString() + QStringLiteral(")"));
    }
    watch();
}

void SettingsFileStore::addChangeObserver(std::function<void()> handler) {
    observers_.push_back(std::move(handler));
}

void SettingsFileStore::watch() {
    // A save replaces the file, which ends a watch on the old one: watch the folder to see
    // the new file arrive, and put the watch back on whatever file the path names now. The
    // folder above is watched as well, so that our folder deleted and made again (a dotfiles
    // manager restoring it) is followed too.
    const QString folder = QFileInfo(path_).absolutePath();
    for (const QString& watched : {QFileInfo(folder).absolutePath(), folder}) {
        if (QFileInfo::exists(watched) && !watcher_.directories().contains(watched)) {
            watcher_.addPath(watched);
        }
    }
    if (watcher_.files().contains(path_)) {
        watcher_.removePath(path_);
    }
    if (QFileInfo::exists(path_)) {
        watcher_.addPath(path_);
    }
}

void SettingsFileStore::fileMayHaveChanged() {
    watch();
    // A rewrite of the same size within the clock's grain, or a copy that keeps the old
    // time, leaves the signature as it was: the notification alone says to read again.
    reload();
    if (QVariantMap now = effectiveValues(); now != notified_) {
        notified_ = std::move(now);
        notifyObservers();
    }
}

void SettingsFileStore::notifyObservers() {
    for (const auto& observer : observers_) {
        observer();
    }
}

}  // namespace dovetrel::app
