// The overlay: a translucent rounded square under the resting pointer, its placement, its
// fades and what it draws.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "core/geometry.h"

namespace dovetrel {

class Platform;
class OverlaySurface;

struct Rgba {
    double red = 0;
    double green = 0;
    double blue = 0;
    double alpha = 0;
    friend bool operator==(const Rgba&, const Rgba&) = default;
};

// The two rounded rectangles the overlay consists of, in the window's own coordinates
// (0, 0, size, size). Strokes are centred on their paths.
struct OverlayDrawing {
    Rect outer;
    double outerRadius = 0;
    Rgba outerFill;
    Rgba outerStroke;
    double outerLineWidth = 0;
    Rect inner;
    double innerRadius = 0;
    Rgba innerStroke;
    double innerLineWidth = 0;
};

OverlayDrawing overlayDrawing(double size);

// The smallest side the overlay is drawn with, so that its drawing keeps both outlines.
inline constexpr double kMinimumOverlaySide = 8;
// The largest side when no screen is known: the largest size the settings offer.
inline constexpr double kMaximumOverlaySideWithoutScreens = 200;

// The side the overlay is drawn and judged with for a preferred `size` with the pointer at
// `pointer`: no longer than the shorter side of the screen under the pointer (the first
// screen when none is), and no shorter than kMinimumOverlaySide. A hand-edited size must
// never make a square that lies off screen yet swallows clicks, or a window the size of a
// city.
double overlaySide(double size, Point pointer, const std::vector<Rect>& screens);

inline constexpr double kOverlayFadeInSeconds = 0.2;
inline constexpr double kOverlayFadeOutSeconds = 0.15;
inline constexpr double kOverlayBlurRadius = 6;

class OverlayWindow {
  public:
    // Builds the window, hidden, at (0, 0, size, size).
    OverlayWindow(Platform& platform, double size);
    ~OverlayWindow();
    OverlayWindow(const OverlayWindow&) = delete;
    OverlayWindow& operator=(const OverlayWindow&) = delete;

    // Resizes the window; meant for before a show.
    void updateSize(double size);
    // Centres the window on `at` (window coordinates, not clamped to any screen), orders it
    // in and fades it in. Returns at once.
    void show(Point at);
    // Fades the window out and orders it out when the fade ends, unless a show came since. A
    // fade-out already under way keeps its end: dismissing again does not put it off.
    void dismiss();
    // Takes the window off screen at once, with no fade.
    void orderOut();

    // True from show() until the window is ordered out, so also during a fade-out.
    bool isVisible() const;
    Rect frame() const;

  private:
    std::shared_ptr<OverlaySurface> surface_;
    // Counts shows; a fade-out started before the latest show must not hide it.
    std::shared_ptr<uint64_t> showGeneration_;
    // The show whose fade-out is under way or done; nullopt before the first dismissal.
    std::optional<uint64_t> dismissedGeneration_;
};

}  // namespace dovetrel
