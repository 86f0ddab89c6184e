// Where a grabbed press lands in the core's tap coordinates, judged against the square where
// the server really shows it.
#pragma once

#include <QRect>
#include <optional>
#include <vector>

#include "app/qt/screen_geometry.h"
#include "core/click_guard.h"

namespace dovetrel::app {

// What presses are judged by: the core's snapshot and the screens it was taken against.
struct Judgement {
    ClickGuardSnapshot snapshot;
    QRect primaryScreen;  // Qt's global coordinates
    std::vector<MonitorArea> monitors;
    // Where the server shows the overlay, in root pixels, while it is up.
    std::optional<QRect> overlayOnScreen;
};

// The tap location of a press at root pixel (`rootX`, `rootY`). While the overlay is up and
// its place on the server is known, the press, taken at its pixel's centre, lands at the same
// place in the frame the core gave the overlay: inside stays inside and outside outside,
// whatever monitor and scale the square is on.
Point tapLocation(int rootX, int rootY, const Judgement& judgement);

}  // namespace dovetrel::app
