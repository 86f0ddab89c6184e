#include "app/qt/reconnect_timer.h"

#include <chrono>
#include <utility>

namespace dovetrel::app {

ReconnectTimer::ReconnectTimer(std::function<bool()> connect)
    : connect_(std::move(connect)), backoff_(kReconnectBackoff, [] {
          return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
              .count();
      }) {
    timer_.setInterval(std::chrono::seconds(1));
    QObject::connect(&timer_, &QTimer::timeout, this, [this] {
        if (!backoff_.due()) {
            return;
        }
        if (connect_()) {
            backoff_.succeeded();
            timer_.stop();
        } else {
            backoff_.failed();
        }
    });
}

void ReconnectTimer::start() {
    if (!timer_.isActive()) {
        backoff_.failed();
        timer_.start();
    }
}

}  // namespace dovetrel::app
