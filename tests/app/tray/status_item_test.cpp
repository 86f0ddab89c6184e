// Where the tray menu opens, for the icon areas that trays report.
#include "app/tray/status_item.h"

#include <gtest/gtest.h>

namespace dovetrel::app {
namespace {

TEST(TrayMenuPosition, OpensAgainstThePanelsEdgeBesideTheIconAndOnTheScreen) {
    const QRect screen(0, 0, 1280, 800);
    const QSize menu(200, 120);
    struct Case {
        const char* name;
        QRect workArea;
        QRect icon;
        QPoint click;
        QPoint expected;
    };
    const Case cases[] = {
        {"top panel, icon's own area: under the icon",
         {0, 32, 1280, 768},
         {900, 5, 22, 22},
         {910, 15},
         {900, 32}},
        {"top panel reporting a 128 px cell: under the panel at the click",
         {0, 32, 1280, 768},
         {890, 0, 128, 128},
         {910, 15},
         {910, 32}},
        {"bottom panel reporting a 128 px cell: above the panel at the click",
         {0, 0, 1280, 768},
         {890, 672, 128, 128},
         {910, 785},
         {910, 648}},
        {"bottom panel at the screen's right end: kept on the screen",
         {0, 0, 1280, 768},
         {1256, 773, 22, 22},
         {1265, 785},
         {1080, 648}},
        {"right-hand panel: beside it",
         {0, 0, 1240, 800},
         {1244, 300, 32, 400},
         {1260, 310},
         {1040, 300}},
        {"no panel and no area: at the click", {0, 0, 1280, 800}, {}, {400, 300}, {400, 301}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(trayMenuPosition(c.icon, c.click, menu, screen, c.workArea), c.expected)
            << c.name;
    }
}

}  // namespace
}  // namespace dovetrel::app
