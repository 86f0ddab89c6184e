// One fade of the square's opacity at a time, on either window system: a new fade replaces
// the running one, whose completion then never runs.
#pragma once

#include <QObject>
#include <QPointer>
#include <QVariantAnimation>
#include <functional>

#include "core/platform.h"

namespace dovetrel::app {

class AlphaFade {
  public:
    // Runs `apply` with each step's opacity from `from` to `to`, then `completion`.
    void start(double from, double to, double seconds, Easing easing,
               std::function<void(double)> apply, std::function<void()> completion);
    void stop();

  private:
    // Owns the animations, which Qt parents to a QObject; they go with the fade.
    QObject owner_;
    QPointer<QVariantAnimation> animation_;
};

}  // namespace dovetrel::app
