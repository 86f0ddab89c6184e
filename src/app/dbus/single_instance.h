// One Dovetrel per session where no X display can tell (a Wayland session): the first start
// owns the name app.dovetrel.Dovetrel on the session bus; a later start asks the owner to open
// its Settings window and ends. The bus drops the name when its owner's connection closes, so a
// start right after the first one ends, by any means, finds the name free.
#pragma once

#include <QObject>
#include <functional>
#include <optional>

namespace dovetrel::app {

class BusSingleInstance : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "app.dovetrel.Dovetrel")

  public:
    // Claims the session for this process and returns nullopt; or, when another Dovetrel holds
    // it, asks that one to open its Settings window, says so in one line on stderr, and returns
    // the status this process should exit with: 0 once the request was answered, 1 when it was
    // not answered in time. Without a session bus it claims nothing and returns nullopt.
    std::optional<int> claimOrHandOver();

    // `handler` runs on the main thread, from the event loop, each time a later start asks.
    void onSettingsRequested(std::function<void()> handler) { handler_ = std::move(handler); }

  public Q_SLOTS:
    // Called over the bus by a later start.
    void OpenSettings();

  private:
    std::function<void()> handler_;
};

}  // namespace dovetrel::app
