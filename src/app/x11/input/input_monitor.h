// The global monitor on X11: XInput 2 raw events on the root window, read on a connection of
// its own and handed to the core on the main thread as the core's event types. It listens
// only while asked to (while the square is up): the rest of the time the server's idle
// counters tell all the program needs, and input costs it nothing.
#pragma once

#include <QObject>
#include <QPointF>
#include <cstdint>
#include <functional>
#include <memory>

#include "app/qt/reconnect_timer.h"
#include "core/platform.h"

namespace dovetrel::app {

class X11InputMonitor : public QObject, public MonitorToken {
  public:
    // Starts watching the event types in `mask` (bit n = core event type n); `handler` runs on
    // the main thread. A monitor that could not connect, or whose XInput 2.2 is missing, is
    // not healthy and watches nothing until it reconnects.
    static std::shared_ptr<X11InputMonitor> start(uint64_t mask,
                                                  std::function<void(uint32_t type)> handler);
    ~X11InputMonitor() override;

    // False while the monitor has no working connection of its own: no input is seen then.
    // A lost connection is made anew by itself, tries spaced by back-off.
    bool isHealthy() const;

    // Selects input events while `on`, or none; device and keyboard map changes are followed
    // either way.
    void listen(bool on);

    // The pointer's position in Qt's global coordinates, as last seen.
    QPointF pointerPosition();

  private:
    X11InputMonitor(uint64_t mask, std::function<void(uint32_t)> handler);
    bool connect();
    void disconnect();
    void lost();

    uint64_t mask_;
    std::function<void(uint32_t)> handler_;
    bool listening_ = false;
    ReconnectTimer reconnect_{[this] { return connect(); }};
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dovetrel::app
