#include "core/overlay_window.h"

#include <algorithm>
#include <utility>

#include "core/platform.h"

namespace dovetrel {
namespace {

Rect insetBy(const Rect& rect, double inset) {
    return {{rect.origin.x + inset, rect.origin.y + inset},
            {rect.size.width - 2 * inset, rect.size.height - 2 * inset}};
}

}  // namespace

OverlayDrawing overlayDrawing(double size) {
    OverlayDrawing drawing;
    drawing.outer = insetBy(Rect{{0, 0}, {size, size}}, 2.0);
    drawing.outerRadius = drawing.outer.size.width * 0.08;
    drawing.outerFill = {1, 1, 1, 0.15};
    drawing.outerStroke = {0, 0, 0, 0.2};
    drawing.outerLineWidth = 1.5;
    drawing.inner = insetBy(drawing.outer, 1.5);
    drawing.innerRadius = drawing.outerRadius - 1.5 > 0 ? drawing.outerRadius - 1.5 : 0;
    drawing.innerStroke = {1, 1, 1, 0.35};
    drawing.innerLineWidth = 0.5;
    return drawing;
}

double overlaySide(double size, Point pointer, const std::vector<Rect>& screens) {
    double limit = kMaximumOverlaySideWithoutScreens;
    if (!screens.empty()) {
        const auto under = std::find_if(screens.begin(), screens.end(), [&](const Rect& screen) {
            return rectContainsPoint(screen, pointer);
        });
        const Rect& screen = under != screens.end() ? *under : screens.front();
        limit = std::min(screen.size.width, screen.size.height);
    }
    // NaN fails every comparison; std::clamp would pass it through.
    if (!(size >= kMinimumOverlaySide)) {
        return kMinimumOverlaySide;
    }
    return std::max(kMinimumOverlaySide, std::min(size, limit));
}

OverlayWindow::OverlayWindow(Platform& platform, double size)
    : surface_(platform.createOverlaySurface(Rect{{0, 0}, {size, size}})),
      showGeneration_(std::make_shared<uint64_t>(0)) {}

OverlayWindow::~OverlayWindow() = default;

void OverlayWindow::updateSize(double size) {
    surface_->setFrame(Rect{surface_->frame().origin, {size, size}});
}

void OverlayWindow::show(Point at) {
    const Size size = surface_->frame().size;
    surface_->setFrame(Rect{{at.x - size.width * 0.5, at.y - size.height * 0.5}, size});
    ++*showGeneration_;
    surface_->setAlpha(0.0);
    surface_->orderFrontRegardless();
    surface_->setBackgroundBlurRadius(kOverlayBlurRadius);
    surface_->animateAlpha(1.0, kOverlayFadeInSeconds, Easing::easeOut, nullptr);
}

void OverlayWindow::dismiss() {
    // Every motion out of the square dismisses again while the pointer keeps moving; a fade
    // restarted each time would leave the square up until the hand rests.
    if (dismissedGeneration_ == *showGeneration_) {
        return;
    }
    dismissedGeneration_ = *showGeneration_;
    std::weak_ptr<OverlaySurface> surface = surface_;
    std::weak_ptr<uint64_t> generation = showGeneration_;
    const uint64_t dismissedGeneration = *showGeneration_;
    surface_->animateAlpha(0.0, kOverlayFadeOutSeconds, Easing::easeIn,
                           [surface, generation, dismissedGeneration] {
                               const auto window = surface.lock();
                               const auto latest = generation.lock();
                               if (window && latest && *latest == dismissedGeneration) {
                                   window->orderOut();
                               }
                           });
}

void OverlayWindow::orderOut() {
    surface_->orderOut();
}

bool OverlayWindow::isVisible() const {
    return surface_->isVisible();
}

Rect OverlayWindow::frame() const {
    return surface_->frame();
}

}  // namespace dovetrel
