// Where the pointer is, in a Wayland session: only a surface under the pointer is told. The
// probe maps a fully transparent surface over the whole output for a moment; the pointer's
// entering it gives the position.
#pragma once

#include <QPointF>
#include <QTimer>
#include <functional>
#include <optional>
#include <vector>

#include "app/wayland/layer_surface.h"

namespace dovetrel::app {

class PointerProbe {
  public:
    explicit PointerProbe(WaylandConnection& connection);

    // Answers with the pointer's position in output pixels (top-left origin), or nullopt when
    // the compositor tells none within kPatience (no pointer on the seat, or another layer
    // surface above ours). The probe stays up while `answer` runs, so that a surface mapped by
    // it is under the pointer before the probe goes. Questions asked meanwhile get the same
    // answer.
    void locate(std::function<void(std::optional<QPointF>)> answer);

    static constexpr int kPatience = 250;  // milliseconds

  private:
    void answer(std::optional<QPointF> position);

    LayerSurface surface_;
    QTimer patience_;
    std::vector<std::function<void(std::optional<QPointF>)>> waiting_;
};

}  // namespace dovetrel::app
