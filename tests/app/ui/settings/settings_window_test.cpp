// The settings window on Qt Widgets, driven with synthetic mouse events on the offscreen
// platform over the simulated desktop's preference store.
#include "app/ui/settings/settings_window.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QIcon>
#include <QImage>
#include <QMouseEvent>
#include <QProxyStyle>
#include <QScrollArea>
#include <QSlider>
#include <QTemporaryDir>
#include <QWindow>
#include <algorithm>

#include "app/ui/settings/controls.h"
#include "app/ui/settings/glyphs.h"
#include "core/preferences.h"
#include "core/settings_model.h"
#include "sim/simulated_platform.h"
#include "support/x_session.h"

// Lets the leak checker pass over the font caches that fontconfig keeps for the whole
// process.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}

namespace dovetrel::app {
namespace {

class SettingsWindowTest : public ::testing::Test {
  protected:
    static void SetUpTestSuite() {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        support::ensureApplication([](int& argc, char** argv) { new QApplication(argc, argv); });
    }

    void SetUp() override {
        if (qobject_cast<QApplication*>(QCoreApplication::instance()) == nullptr) {
            GTEST_SKIP() << "another test of this process made a non-widget application";
        }
        window = std::make_shared<SettingsWindowWidget>(platform, [](const SettingsWindow*) {});
        for (QWidget* candidate : QApplication::topLevelWidgets()) {
            if (candidate->windowTitle() == QLatin1String("Dovetrel Settings")) {
                panel = candidate;
            }
        }
        ASSERT_NE(panel, nullptr);
        window->center();
        window->setLevel(WindowLevel::floating);
        window->makeKeyAndOrderFront();
        settle();
    }

    void TearDown() override {
        window.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }

    template <typename T = QWidget>
    T* find(const char* name) const {
        T* found = dynamic_cast<T*>(panel->findChild<QWidget*>(QString::fromLatin1(name)));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // The painted widgets carry no meta-object of their own, so findChildren cannot tell them.
    template <typename T>
    static qsizetype countOf(const QWidget* parent) {
        const auto children = parent->findChildren<QWidget*>();
        return std::count_if(children.begin(), children.end(),
                             [](QWidget* child) { return dynamic_cast<T*>(child) != nullptr; });
    }

    static void settle() {
        for (int round = 0; round < 5; ++round) {
            QCoreApplication::processEvents();
        }
    }

    static void mouse(QWidget* widget, QEvent::Type type, QPointF at, Qt::MouseButtons held) {
        QMouseEvent event(type, at, widget->mapToGlobal(at),
                          type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton, held,
                          Qt::NoModifier);
        QApplication::sendEvent(widget, &event);
    }

    static void click(QWidget* widget) {
        const QPointF middle = QRectF(widget->rect()).center();
        mouse(widget, QEvent::MouseButtonPress, middle, Qt::LeftButton);
        mouse(widget, QEvent::MouseButtonRelease, middle, Qt::NoButton);
    }

    Preferences stored() { return Preferences(platform.store); }

    sim::SimulatedPlatform platform;
    std::shared_ptr<SettingsWindowWidget> window;
    QWidget* panel = nullptr;
};

TEST_F(SettingsWindowTest, IsAFixed380WideWindowThatFloatsBrieflyAndFollowsItsTab) {
    EXPECT_EQ(panel->width(), 380);
    EXPECT_EQ(panel->minimumSize(), panel->maximumSize()) << "the user cannot resize it";
    const Qt::WindowFlags flags = panel->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    // Floating comes and goes on the same native window: no hiding, no recreation.
    const WId id = panel->winId();
    EXPECT_TRUE(panel->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    window->setLevel(WindowLevel::normal);
    EXPECT_FALSE(panel->windowHandle()->flags() & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->winId(), id);

    const int settingsHeight = panel->height();
    click(find("tab:What's New"));
    settle();
    EXPECT_EQ(panel->width(), 380);
    EXPECT_NE(panel->height(), settingsHeight);

    // The notes of the longest release scroll inside the area instead of growing the window.
    const int whatsNewHeight = panel->height();
    click(find("release:0.1.0"));
    settle();
    EXPECT_EQ(panel->height(), whatsNewHeight);

    click(find("tab:Settings"));
    settle();
    EXPECT_EQ(panel->height(), settingsHeight);
}

TEST_F(SettingsWindowTest, DraggingTheSlidersStoresEveryStepOnTheGrid) {
    auto* slider = find<QSlider>("timeoutSlider");

    const QPointF knob(slider->width() * (3.0 - 1.0) / 9.0, slider->height() / 2.0);
    mouse(slider, QEvent::MouseButtonPress, knob, Qt::LeftButton);
    mouse(slider, QEvent::MouseMove, {-40, knob.y()}, Qt::LeftButton);
    EXPECT_EQ(stored().idleTimeout(), 1.0) << "stored while the drag goes on";
    EXPECT_EQ(find<ValueBadge>("timeoutBadge")->text(), "1.0s");
    mouse(slider, QEvent::MouseMove, {slider->width() / 2.0, knob.y()}, Qt::LeftButton);
    mouse(slider, QEvent::MouseButtonRelease, {slider->width() / 2.0, knob.y()}, Qt::NoButton);
    EXPECT_EQ(stored().idleTimeout(), 5.5);

    // A press on the track jumps there rather than paging.
    auto* size = find<QSlider>("sizeSlider");
    const QPointF end(size->width() - 1.0, size->height() / 2.0);
    mouse(size, QEvent::MouseButtonPress, end, Qt::LeftButton);
    mouse(size, QEvent::MouseButtonRelease, end, Qt::NoButton);
    EXPECT_EQ(stored().zoneSize(), 200.0);
    EXPECT_EQ(find<ValueBadge>("sizeBadge")->text(), "200px");
}

// Changes made elsewhere show at once without being written back; Reset undoes them all.
TEST_F(SettingsWindowTest, ControlsActAtOnceAndResetIsOfferedExactlyWhileAnythingDiffers) {
    auto* reset = find<QAbstractButton>("resetButton");
    EXPECT_FALSE(reset->isEnabled());
    platform.store.editByHand("idleTimeout", "9.5");
    EXPECT_TRUE(reset->isEnabled());
    EXPECT_EQ(find<QSlider>("timeoutSlider")->value(), kTimeoutGrid.positionNearest(9.5));
    EXPECT_EQ(stored().idleTimeout(), 9.5) << "showing a value must not write it";

    click(find("statusPill"));
    click(find("launchAtLoginSwitch"));
    EXPECT_FALSE(stored().isEnabled());
    EXPECT_TRUE(stored().launchAtLogin());
    click(find("websiteLink"));
    EXPECT_EQ(platform.openedUrls, std::vector<std::string>{kWebsiteURL});

    click(reset);
    EXPECT_TRUE(stored().isEnabled());
    EXPECT_FALSE(reset->isEnabled());
}

TEST_F(SettingsWindowTest, ReleaseSymbolsComeFromTheIconThemeTintedElseAreDrawn) {
    QTemporaryDir themes;
    ASSERT_TRUE(QDir(themes.path()).mkpath(QStringLiteral("probe/16x16/actions")));
    QFile index(themes.path() + QStringLiteral("/probe/index.theme"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write(
        "[Icon Theme]\nName=probe\nDirectories=16x16/actions\n\n"
        "[16x16/actions]\nSize=16\nType=Fixed\n");
    index.close();
    QImage square(16, 16, QImage::Format_ARGB32);
    square.fill(Qt::red);
    ASSERT_TRUE(
        square.save(themes.path() + QStringLiteral("/probe/16x16/actions/view-refresh.png")));
    const QStringList searchPaths = QIcon::themeSearchPaths();
    const QString themeName = QIcon::themeName();
    QIcon::setThemeSearchPaths({themes.path()});
    QIcon::setThemeName(QStringLiteral("probe"));

    // The theme's red square fills the frame in the text's grey; a symbol the theme lacks is
    // drawn, leaving the frame's corner empty.
    const QImage themed =
        SymbolGlyph(QStringLiteral("arrow.triangle.2.circlepath")).grab().toImage();
    const QImage drawn = SymbolGlyph(QStringLiteral("arrow.down.circle")).grab().toImage();
    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setThemeName(themeName);
    const QColor background = QApplication::palette().color(QPalette::Window);
    const QColor corner = themed.pixelColor(themed.width() / 5, themed.height() / 5);
    EXPECT_LT(corner.lightness(), background.lightness() - 40);
    EXPECT_EQ(corner.red(), corner.green()) << "not tinted";
    EXPECT_EQ(drawn.pixelColor(drawn.width() / 7, drawn.height() / 7), background);
}

// A style that honours a desktop with animations switched off.
class StillStyle : public QProxyStyle {
  public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* answer) const override {
        return hint == SH_Widget_Animation_Duration
                   ? 0
                   : QProxyStyle::styleHint(hint, option, widget, answer);
    }
};

TEST_F(SettingsWindowTest, TabsAndReleasesCrossFadeUnlessTheDesktopWantsThemStill) {
    struct Case {
        const char* desktop;
        bool styleAnimates;
        bool effectsReported;
        bool menusAnimate;
        bool fades;
    };
    const Case cases[] = {
        {"a theme that reports no effects", true, false, false, true},
        {"effects with animated menus", true, true, true, true},
        {"effects without animated menus", true, true, false, false},
        {"a style that does not animate", false, false, false, false},
    };
    auto* whatsNew = find("whatsNewArea")->parentWidget();
    auto* notes = find<QScrollArea>("releaseNotes");
    const qsizetype widgetsAtRest = countOf<QWidget>(panel);
    StillStyle still;
    const auto waitUntilStill = [&] {
        support::waitFor([&] {
            return whatsNew->graphicsEffect() == nullptr &&
                   notes->widget()->graphicsEffect() == nullptr &&
                   countOf<QWidget>(panel) == widgetsAtRest;
        });
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.desktop);
        panel->setStyle(c.styleAnimates ? nullptr : &still);
        QApplication::setEffectEnabled(Qt::UI_General, c.effectsReported);
        QApplication::setEffectEnabled(Qt::UI_AnimateMenu, c.menusAnimate);

        click(find("tab:What's New"));
        QCoreApplication::processEvents();
        EXPECT_TRUE(whatsNew->isVisible());
        EXPECT_EQ(whatsNew->graphicsEffect() != nullptr, c.fades) << "the tab switch";
        waitUntilStill();
        EXPECT_EQ(whatsNew->graphicsEffect(), nullptr) << "a fade ends and leaves nothing behind";

        click(find("release:0.1.0"));
        QCoreApplication::processEvents();
        EXPECT_EQ(countOf<SymbolGlyph>(notes), 7);
        EXPECT_EQ(notes->widget()->graphicsEffect() != nullptr, c.fades) << "the release list";
        // A second choice while the first still fades starts from the finished picture.
        click(find("release:0.1.3"));
        QCoreApplication::processEvents();
        EXPECT_EQ(countOf<SymbolGlyph>(notes), 4);
        waitUntilStill();
        EXPECT_EQ(countOf<QWidget>(panel), widgetsAtRest);

        click(find("tab:Settings"));
        waitUntilStill();
        EXPECT_FALSE(whatsNew->isVisible());
    }
    panel->setStyle(nullptr);
    QApplication::setEffectEnabled(Qt::UI_General, false);
    QApplication::setEffectEnabled(Qt::UI_AnimateMenu, false);
}

}  // namespace
}  // namespace dovetrel::app
