// The screen savers on the session bus: whether one says the screen is blanked or locked, and
// a call when one turns on.
#pragma once

#include <QObject>
#include <functional>

namespace dovetrel::app {

class ScreenSavers : public QObject {
    Q_OBJECT

  public:
    // Listens to every common screen saver from now on; `onLocked` runs on the main thread
    // each time one says it turned on. Without a session bus nothing is heard.
    explicit ScreenSavers(std::function<void()> onLocked, QObject* parent = nullptr);

    // Whether a screen saver last said it is on (blanked or locked); false when none said.
    bool lockedOrBlanked() const { return active_; }

  private Q_SLOTS:
    // QtDBus delivers bus signals only to slots.
    void activeChanged(bool active);

  private:
    std::function<void()> onLocked_;
    bool active_ = false;
};

}  // namespace dovetrel::app
