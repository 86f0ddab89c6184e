// logind on the system bus: the machine going to sleep and waking, and this process's session
// turning inactive (another session took the seat) or locked.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <optional>

#include "core/platform.h"

namespace dovetrel::app {

class Logind : public QObject {
    Q_OBJECT

  public:
    // Listens from now on. `onWorkspace` gets screensDidSleep and didWake around sleep and
    // sessionDidResignActive when the session stops being active; `onLocked` runs when the
    // session turns locked. Both run on the main thread. Without a system bus or logind
    // nothing is heard.
    Logind(std::function<void(WorkspaceNotification)> onWorkspace, std::function<void()> onLocked,
           QObject* parent = nullptr);

    // Whether logind last said the session is locked (LockedHint); false until it says.
    bool locked() const { return sessionLocked_.value_or(false); }

  private Q_SLOTS:
    // QtDBus delivers bus signals only to slots.
    void prepareForSleep(bool start);
    void sessionPropertiesChanged(const QString& interface, const QVariantMap& changed,
                                  const QStringList& invalidated);

  private:
    void findSession(const QString& method, const QVariant& argument, bool fallBackToPid);
    void findSessionOfThisProcess();
    void followSession(const QString& path);

    std::function<void(WorkspaceNotification)> onWorkspace_;
    std::function<void()> onLocked_;
    std::optional<bool> sessionActive_;
    std::optional<bool> sessionLocked_;
};

}  // namespace dovetrel::app
