// Making a lost connection anew: tries a second apart at most, further apart after each that
// fails (kReconnectBackoff), until one succeeds.
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>

#include "core/backoff.h"

namespace dovetrel::app {

class ReconnectTimer : public QObject {
  public:
    // `connect` makes one try and says whether it succeeded.
    explicit ReconnectTimer(std::function<bool()> connect);

    // After a loss: tries from now on until one succeeds. Harmless while trying already.
    void start();

  private:
    std::function<bool()> connect_;
    QTimer timer_;
    Backoff backoff_;
};

}  // namespace dovetrel::app
