// What the X server tells on a connection of our own: a switch of desktop, another program in
// front, and the screen saver or DPMS darkening the screen.
#pragma once

#include <xcb/xcb.h>

#include <QObject>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>

#include "app/x11/ewmh.h"
#include "core/platform.h"

class QSocketNotifier;

namespace dovetrel::app {

class ScreenEvents : public QObject {
  public:
    // Listens from now on. `onWorkspace` gets activeSpaceDidChange, didActivateApplication and
    // screensDidSleep, on the main thread. Without an X server nothing is heard.
    explicit ScreenEvents(std::function<void(WorkspaceNotification)> onWorkspace,
                          QObject* parent = nullptr);
    ~ScreenEvents() override;

    // Whether the X screen saver or DPMS has the screen dark now; false without a server or
    // when neither extension tells.
    bool screenIsDark();

  private:
    void watchScreenSaver(xcb_connection_t* connection);
    void watchDpms(xcb_connection_t* connection);
    std::optional<uint32_t> readCurrentDesktop() const;
    std::optional<int32_t> readFrontPid() const;
    bool screenWentDark(const xcb_generic_event_t* event);
    void drain();
    void drainLater();

    std::function<void(WorkspaceNotification)> onWorkspace_;
    XConnection x_ = XConnection::toQtServer();
    EwmhAtoms atoms_{x_};
    std::unique_ptr<QSocketNotifier> notifier_;
    std::optional<uint32_t> currentDesktop_;
    std::optional<int32_t> frontPid_;
    std::optional<uint8_t> screenSaverEvent_;
    std::optional<uint8_t> dpmsOpcode_;
    uint16_t dpmsPowerLevel_;
};

}  // namespace dovetrel::app
