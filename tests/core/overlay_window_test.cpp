#include "core/overlay_window.h"

#include "core/test_support.h"

namespace dovetrel::testing {
namespace {

struct DrawingCase {
    double size;
    Rect outer;
    double radius;
    Rect inner;
    double innerRadius;
};

class OverlayDrawingSizes : public ::testing::TestWithParam<DrawingCase> {};

TEST_P(OverlayDrawingSizes, MatchTheWorkedGeometry) {
    const auto& c = GetParam();
    const OverlayDrawing drawing = overlayDrawing(c.size);
    EXPECT_EQ(drawing.outer, c.outer);
    EXPECT_DOUBLE_EQ(drawing.outerRadius, c.radius);
    EXPECT_EQ(drawing.inner, c.inner);
    EXPECT_NEAR(drawing.innerRadius, c.innerRadius, 1e-12);
    EXPECT_EQ(drawing.outerFill, (Rgba{1, 1, 1, 0.15}));
    EXPECT_EQ(drawing.outerStroke, (Rgba{0, 0, 0, 0.2}));
    EXPECT_EQ(drawing.outerLineWidth, 1.5);
    EXPECT_EQ(drawing.innerStroke, (Rgba{1, 1, 1, 0.35}));
    EXPECT_EQ(drawing.innerLineWidth, 0.5);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, OverlayDrawingSizes,
    ::testing::Values(
        DrawingCase{80, {{2, 2}, {76, 76}}, 6.08, {{3.5, 3.5}, {73, 73}}, 4.58},
        DrawingCase{40, {{2, 2}, {36, 36}}, 2.88, {{3.5, 3.5}, {33, 33}}, 1.38},
        DrawingCase{200, {{2, 2}, {196, 196}}, 15.68, {{3.5, 3.5}, {193, 193}}, 14.18},
        // Far below the sliders the inner outline gets square corners.
        DrawingCase{22.75, {{2, 2}, {18.75, 18.75}}, 1.5, {{3.5, 3.5}, {15.75, 15.75}}, 0}));

class OverlayWindowTest : public CoreTest {
  protected:
    OverlayWindow window{platform, 80};
    sim::SimOverlaySurface& surface() { return *platform.overlay(); }
};

TEST_F(OverlayWindowTest, ShowCentresOrdersInWithAlphaZeroThenBlursAndFadesIn) {
    EXPECT_FALSE(window.isVisible());
    platform.calls.clear();
    window.show({10, 890});  // near a corner: not pushed back onto the screen
    const std::vector<std::string> expected = {
        "overlay.setFrame -30,850,80x80", "overlay.setAlpha 0", "overlay.orderFront",
        "overlay.blur 6", "overlay.animateAlpha 1 0.2 easeOut"};
    EXPECT_EQ(platform.calls, expected);
    EXPECT_TRUE(window.isVisible());
    platform.advance(0.2);
    EXPECT_EQ(surface().alpha(), 1.0);
}

TEST_F(OverlayWindowTest, StaysVisibleThroughTheFadeOutAndIsOrderedOutAtItsEnd) {
    window.show({500, 400});
    platform.advance(0.2);
    window.dismiss();
    platform.advance(0.149);
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

TEST_F(OverlayWindowTest, ResizesOnlyWhenAsked) {
    window.show({500, 400});
    window.updateSize(120);
    EXPECT_EQ(window.frame().size, (Size{120, 120}));
    window.show({500, 400});
    EXPECT_EQ(window.frame(), (Rect{{440, 340}, {120, 120}}));
    window.orderOut();
    EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace dovetrel::testing
