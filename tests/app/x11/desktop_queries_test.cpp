#include "app/x11/desktop_queries.h"

#include <gtest/gtest.h>

namespace dovetrel::app {
namespace {

TEST(CursorImageFromXFixes, GivesRgbaInRowOrderASizeInPointsAndAKeyOfSizeAndPixels) {
    // 2 x 2 pixels: a half-transparent premultiplied red, opaque green, opaque blue and a
    // transparent one.
    const std::vector<uint32_t> argb{0x80800000, 0xff00ff00, 0xff0000ff, 0x00000000};
    const CursorImage image = cursorImageFromArgb(2, 2, argb, 2.0);
    ASSERT_TRUE(image.bitmap);
    EXPECT_EQ(image.bitmap->rgba, (std::vector<uint8_t>{0x80, 0, 0, 0x80, 0, 0xff, 0, 0xff,  //
                                                        0, 0, 0xff, 0xff, 0, 0, 0, 0}));
    EXPECT_EQ(image.size, (Size{1, 1}));
    EXPECT_EQ(cursorImageFromArgb(4, 1, argb, 0.5).size, (Size{8, 2}));
    EXPECT_EQ(cursorImageFromArgb(4, 1, argb, 0).size, (Size{4, 1}));

    const auto key = [](int width, int height, const std::vector<uint32_t>& pixels) {
        return cursorImageFromArgb(width, height, pixels, 1.0).bytes.value();
    };
    // The same pixels in another shape are another image.
    const std::vector<uint32_t> six(6, 0xff000000);
    EXPECT_NE(key(3, 2, six), key(2, 3, six));
    std::vector<uint32_t> oneChanged = argb;
    oneChanged[3] = 0x0a000000;
    EXPECT_NE(key(2, 2, argb), key(2, 2, oneChanged));

    // An image whose pixels fell short cannot be examined; an empty one can.
    EXPECT_FALSE(cursorImageFromArgb(3, 3, argb, 1.0).bitmap);
    EXPECT_TRUE(cursorImageFromArgb(0, 0, {}, 1.0).bitmap);
}

TEST(MonitorChoice, WindowAsLargeAsAMonitorMeasuresAsItsGeometry) {
    EXPECT_EQ(logicalSize(QSize(2560, 1600), 2.0), QSize(1280, 800));
    // At a fractional ratio Qt rounds the monitor's 1366 x 768 pixels to 1093 x 614.
    EXPECT_EQ(logicalSize(QSize(1366, 768), 1.25), QSize(1093, 614));
}

}  // namespace
}  // namespace dovetrel::app
