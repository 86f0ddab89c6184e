// Which kind of tray host shows the icon, followed for the life of the program: at login the
// program may start before the panel, and panels restart.
#pragma once

#include <QDBusServiceWatcher>
#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <optional>

namespace dovetrel::app {

class TrayHostWatch : public QObject {
    Q_OBJECT

  public:
    enum class Host { StatusNotifier, XEmbed };

    // Starts watching. `use` runs from the event loop with the host to show the icon in:
    // first as soon as a StatusNotifierItem host is registered or an XEmbed tray runs, or
    // XEmbed when neither came within a short wait (such an icon docks by itself into a tray
    // that comes later); then StatusNotifier whenever a host is registered again (a panel
    // started late, or restarted), and XEmbed when the host has gone and an XEmbed tray runs.
    explicit TrayHostWatch(std::function<void(Host)> use);
    ~TrayHostWatch() override;

  private Q_SLOTS:
    void askWatcherForHost();

  private:
    void hostRegistered(bool registered);
    void decide();

    std::function<void(Host)> use_;
    std::optional<Host> current_;
    bool hostRegistered_ = false;
    bool hostKnown_ = false;
    bool saidNoHost_ = false;
    QDeadlineTimer firstDeadline_;
    QTimer poll_;
    QDBusServiceWatcher watcherWatch_;
};

}  // namespace dovetrel::app
