// The global monitor on X11: XInput 2 raw events on the root window, read on a connection of
// its own and handed to the core on the main thread as the core's event types.
#pragma once

#include <QObject>
#include <QPointF>
#include <cstdint>
#include <functional>
#include <memory>

#include "core/platform.h"

namespace dovetrel::app {

class X11InputMonitor : public QObject, public MonitorToken {
  public:
    // Starts watching the event types in `mask` (bit n = core event type n); `handler` runs on
    // the main thread. nullptr when the server cannot deliver raw events (no XInput 2.2).
    static std::shared_ptr<X11InputMonitor> start(uint64_t mask,
                                                  std::function<void(uint32_t type)> handler);
    ~X11InputMonitor() override;

    // The pointer's position in Qt's global coordinates, as last seen.
    QPointF pointerPosition();

  private:
    X11InputMonitor();
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dovetrel::app
