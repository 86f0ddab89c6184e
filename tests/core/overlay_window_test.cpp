#include "core/overlay_window.h"

#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

TEST(OverlayDrawing, InsetsTheOutlineAndNeverGivesANegativeCorner) {
    // A faint light tile with a dark rim outside and a light rim inside: it shows on light
    // and dark backgrounds alike.
    const OverlayDrawing drawing = overlayDrawing(80);
    EXPECT_EQ(drawing.outer, (Rect{{2, 2}, {76, 76}}));
    EXPECT_EQ(drawing.inner, (Rect{{3.5, 3.5}, {73, 73}}));
    EXPECT_DOUBLE_EQ(drawing.outerRadius, 6.08);
    EXPECT_DOUBLE_EQ(drawing.innerRadius, 4.58);
    EXPECT_EQ(drawing.outerFill, (Rgba{1, 1, 1, 0.15}));
    EXPECT_EQ(drawing.outerStroke, (Rgba{0, 0, 0, 0.2}));
    EXPECT_EQ(drawing.innerStroke, (Rgba{1, 1, 1, 0.35}));
    EXPECT_EQ(std::pair(drawing.outerLineWidth, drawing.innerLineWidth), std::pair(1.5, 0.5));
    // Far below the sliders the inner outline's corners go square, and only where the outer
    // ones leave no room for a curve.
    EXPECT_EQ(overlayDrawing(22.75).innerRadius, 0);
    EXPECT_GT(overlayDrawing(24).innerRadius, 0);
    const OverlayDrawing smallest = overlayDrawing(overlaySide(0, {}, {}));
    EXPECT_GT(smallest.inner.size.width, 0);
    EXPECT_GE(smallest.innerRadius, 0);
}

class OverlayWindowTest : public CoreTest {
  protected:
    OverlayWindow window{platform, 80};
    sim::SimOverlaySurface& surface() { return *platform.overlay(); }
};

TEST_F(OverlayWindowTest, ShowCentresAndFadesInFromNothingWithTheBackgroundBlurred) {
    EXPECT_FALSE(window.isVisible());
    window.show({10, 890});  // near a corner: not pushed back onto the screen
    EXPECT_EQ(surface().frame(), (Rect{{-30, 850}, {80, 80}}));
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(surface().alpha(), 0.0);
    EXPECT_EQ(surface().fadeTarget(), 1.0);
    EXPECT_GT(surface().blurRadius(), 0);
    platform.advance(0.2);
    EXPECT_EQ(surface().alpha(), 1.0);
}

TEST_F(OverlayWindowTest, StaysVisibleThroughTheFadeOutAndIsOrderedOutAtItsEnd) {
    window.show({500, 400});
    platform.advance(0.2);
    window.dismiss();
    platform.advance(0.1);
    window.dismiss();  // again, as every motion out of the square does: the end stays
    platform.advance(0.049);
    EXPECT_TRUE(window.isVisible());
    platform.advance(0.001);
    EXPECT_FALSE(window.isVisible());
    // Dismissing a hidden window orders it out again and nothing fails.
    window.dismiss();
    platform.advance(0.15);
    EXPECT_FALSE(window.isVisible());
}

TEST_F(OverlayWindowTest, APendingFadeOutNeverHidesANewerShow) {
    window.show({500, 400});
    window.dismiss();
    platform.advance(0.05);
    window.show({600, 400});
    platform.advance(1.0);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(window.frame().origin, (Point{560, 360}));
}

}  // namespace
}  // namespace dovetrel::testing
