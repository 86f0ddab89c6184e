// Waiting for a tray host before the tray icon is created, since Qt settles on how to show
// the icon at that moment for good.
#pragma once

#include <QDeadlineTimer>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class QDBusServiceWatcher;

namespace dovetrel::app {

// Qt picks StatusNotifierItem or XEmbed once per process, when the tray icon is created.
// Created before the panel, it would stay with XEmbed, which a StatusNotifierItem-only panel
// never shows; so it waits a little for either kind of host.
class TrayHostWait : public QObject {
  public:
    // Starts waiting. `createIcon` runs once, from the event loop, as soon as an XEmbed tray
    // runs or a StatusNotifierItem host is registered, or when the wait is over without one.
    explicit TrayHostWait(std::function<void()> createIcon);
    ~TrayHostWait() override;

  private:
    void checkForHost();
    void askWatcherForHost();
    void finish();

    std::function<void()> createIcon_;
    bool finished_ = false;
    QDeadlineTimer hostDeadline_;
    QTimer hostPoll_;
    std::unique_ptr<QDBusServiceWatcher> watcherWatch_;
};

}  // namespace dovetrel::app
