// The program in a Wayland session, on a headless sway.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <optional>

#include "support/wayland_session.h"

namespace dovetrel::e2e {
using namespace support;
namespace {

const std::string kQuickSettings = "[General]\nidleTimeout=1\nzoneSize=80\n";

// The square once it is on the screen: a painted area larger than the pointer's image.
std::optional<QRect> waitForSquare(const WaylandSession& session) {
    std::optional<QRect> square;
    waitFor(
        [&] {
            const QRect painted = paintedArea(session.screenshot());
            if (painted.width() > 40 && painted.height() > 40) {
                square = painted;
            }
            return square.has_value();
        },
        10s);
    return square;
}

TEST(WaylandSquare, RestShowsTheSquareUnderThePointer) {
    ensureApplication([](int& argc, char** argv) { new QCoreApplication(argc, argv); });
    WaylandSession session;
    if (!session.failure().empty()) {
        GTEST_SKIP() << session.failure();
    }
    session.movePointer(400, 300);
    Dovetrel dovetrel(session.environment(), kQuickSettings);

    const auto square = waitForSquare(session);
    ASSERT_TRUE(square) << dovetrel.unexpectedOutput();
    // The drawing lies within its 80-point frame, centred on the pointer.
    EXPECT_TRUE(QRect(360, 260, 80, 80).contains(*square)) << square->x() << "," << square->y();
    EXPECT_GE(square->width(), 70);
    EXPECT_NEAR(square->center().x(), 400, 2);
    EXPECT_NEAR(square->center().y(), 300, 2);
}

}  // namespace
}  // namespace dovetrel::e2e
