#include "app/ui/settings/settings_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCursor>
#include <QEvent>
#include <QGraphicsOpacityEffect>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPointer>
#include <QPropertyAnimation>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QStyle>
#include <QVBoxLayout>
#include <QVariantAnimation>
#include <QWidget>
#include <QWindow>
#include <optional>
#include <utility>

#include "app/qt/logging.h"
#include "app/ui/settings/controls.h"
#include "app/ui/settings/glyphs.h"
#include "core/app_delegate.h"
#include "core/settings_model.h"

namespace dovetrel::app {
namespace {

constexpr int kPanelWidth = 380;
constexpr int kWhatsNewHeight = 240;
constexpr int kWhatsNewBottom = 12;
constexpr int kSideInset = 20;
// The cross-fades of the tab switch and of the release list.
constexpr int kTabFadeMilliseconds = 150;
constexpr int kReleaseFadeMilliseconds = 120;

// The frame the window manager put around the last settings window, so that the next one can
// be centred with its frame before the manager has framed it. Main thread only.
QMargins lastKnownFrameMargins;

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

// Whether the desktop wants widgets to animate. A style that honours the user's choice answers
// 0 for the animation duration when animations are off; a platform theme that reports UI
// effects at all says it through the menu animation. Qt's generic theme reports no effects
// whatever the desktop wants, so its silence is not taken as a no.
bool desktopWantsAnimations(const QWidget* widget) {
    if (widget->style()->styleHint(QStyle::SH_Widget_Animation_Duration, nullptr, widget) <= 0) {
        return false;
    }
    return !QApplication::isEffectEnabled(Qt::UI_General) ||
           QApplication::isEffectEnabled(Qt::UI_AnimateMenu);
}

// A picture of what a part of the window showed before a change, painted over it at a
// falling opacity while the new content fades in beneath: an ease-in-out cross-fade.
class FadingPicture final : public QWidget {
  public:
    FadingPicture(QWidget* parent, const QPixmap& picture, QPoint at)
        : QWidget(parent), picture_(picture) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(QRect(at, picture.deviceIndependentSize().toSize()));
        raise();
        show();
    }

    void setOpacity(double opacity) {
        opacity_ = opacity;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setOpacity(opacity_);
        painter.drawPixmap(0, 0, picture_);
    }

  private:
    QPixmap picture_;
    double opacity_ = 1.0;
};

// Cross-fades from `before` (painted at `at` in `coverParent`) to `incoming` over
// `milliseconds`. Returns the running animation; it cleans up after itself when it ends.
QAbstractAnimation* crossFade(QWidget* coverParent, const QPixmap& before, QPoint at,
                              QWidget* incoming, int milliseconds) {
    auto* cover = new FadingPicture(coverParent, before, at);
    auto* effect = new QGraphicsOpacityEffect(incoming);
    effect->setOpacity(0.0);
    incoming->setGraphicsEffect(effect);

    auto* group = new QParallelAnimationGroup(incoming);
    auto* fadeIn = new QPropertyAnimation(effect, "opacity", group);
    fadeIn->setStartValue(0.0);
    fadeIn->setEndValue(1.0);
    auto* fadeOut = new QVariantAnimation(group);
    fadeOut->setStartValue(1.0);
    fadeOut->setEndValue(0.0);
    QObject::connect(fadeOut, &QVariantAnimation::valueChanged, cover,
                     [cover](const QVariant& value) { cover->setOpacity(value.toDouble()); });
    for (auto* animation : {static_cast<QVariantAnimation*>(fadeIn), fadeOut}) {
        animation->setDuration(milliseconds);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        group->addAnimation(animation);
    }
    // Painting through the effect costs an offscreen pass: drop it once the fade is done.
    QObject::connect(group, &QAbstractAnimation::finished, incoming,
                     [incoming = QPointer<QWidget>(incoming), cover = QPointer<QWidget>(cover)] {
                         if (incoming) {
                             incoming->setGraphicsEffect(nullptr);
                         }
                         if (cover) {
                             cover->deleteLater();
                         }
                     });
    group->start(QAbstractAnimation::DeleteWhenStopped);
    return group;
}

// A new layout with the given insets, appended to `parent`.
template <typename Layout = QHBoxLayout>
Layout* addInset(QBoxLayout* parent, int left, int top, int right, int bottom) {
    auto* inset = new Layout;
    inset->setContentsMargins(left, top, right, bottom);
    inset->setSpacing(0);
    parent->addLayout(inset);
    return inset;
}

// The whole window. It keeps no copy of a preference: refresh() re-reads the model into
// the few controls that hold state of their own, and every painted piece asks the model
// again when it repaints.
class SettingsPanel final : public QWidget {
  public:
    explicit SettingsPanel(Platform& platform);

    void refresh();
    // Runs when the user closes the window; it may destroy the SettingsWindow that owns
    // this panel.
    std::function<void()> onClose;
    bool isClosing() const { return closing_; }

  protected:
    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;

  private:
    QWidget* buildHeader();
    QWidget* buildTabSwitcher();
    QWidget* buildSettingsTab();
    QWidget* buildWhatsNewTab();
    void addSliderRow(QBoxLayout* parent, const QString& label, const char* name,
                      GridSlider*& slider, ValueBadge*& badge, std::function<QString()> display);
    void selectTab(SettingsTab tab);
    void selectRelease(const std::string& id);
    void showSelectedRelease();
    void styleScrollBar();
    QWidget* shownTab() const;
    // Ends a cross-fade still running, so that the next one starts from a still picture.
    void finishFade();

    Platform& platform_;
    SettingsModel model_;
    QWidget* settingsTab_ = nullptr;
    QWidget* whatsNewTab_ = nullptr;
    GridSlider* timeoutSlider_ = nullptr;
    GridSlider* sizeSlider_ = nullptr;
    ValueBadge* timeoutBadge_ = nullptr;
    ValueBadge* sizeBadge_ = nullptr;
    PlateButton* resetButton_ = nullptr;
    QScrollArea* notes_ = nullptr;
    // The release whose notes the pane holds; nullopt before the first is built.
    std::optional<std::string> shownReleaseID_;
    QPointer<QAbstractAnimation> fade_;
    bool closing_ = false;
};

SettingsPanel::SettingsPanel(Platform& platform)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           Qt::WindowCloseButtonHint),
      platform_(platform),
      model_(platform) {
    setWindowTitle(QStringLiteral("Dovetrel Settings"));
    setAttribute(Qt::WA_QuitOnClose, false);
    auto* closeShortcut = new QShortcut(QKeySequence::Close, this);
    connect(closeShortcut, &QShortcut::activated, this, &QWidget::close);

    auto* content = new QWidget(this);
    content->setFixedWidth(kPanelWidth);
    auto* column = new QVBoxLayout(content);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildHeader());
    column->addWidget(buildTabSwitcher());
    column->addWidget(settingsTab_ = buildSettingsTab());
    column->addWidget(whatsNewTab_ = buildWhatsNewTab());

    // The window is exactly as large as what it shows, and follows it from tab to tab.
    auto* root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSizeConstraint(QLayout::SetFixedSize);
    root->addWidget(content);

    styleScrollBar();
    refresh();
}

QWidget* SettingsPanel::buildHeader() {
    auto* header = new QWidget;
    auto* stack = new QVBoxLayout(header);
    stack->setContentsMargins(0, 18, 0, 14);
    stack->setSpacing(4);
    stack->addWidget(new IconTile, 0, Qt::AlignHCenter);
    stack->addWidget(new LevelLabel(QStringLiteral("Dovetrel"), systemFont(15, QFont::DemiBold),
                                    TextLevel::primary),
                     0, Qt::AlignHCenter);
    stack->addWidget(new LevelLabel(QStringLiteral("Version ") + QString::fromLatin1(kAppVersion),
                                    systemFont(11), TextLevel::tertiary),
                     0, Qt::AlignHCenter);
    auto* link = new LinkButton(QString::fromLatin1(kWebsiteLabel));
    link->setObjectName(QStringLiteral("websiteLink"));
    link->setToolTip(QString::fromLatin1(kWebsiteURL));
    connect(link, &QAbstractButton::clicked, this, [this] { platform_.openUrl(kWebsiteURL); });
    stack->addWidget(link, 0, Qt::AlignHCenter);
    return header;
}

QWidget* SettingsPanel::buildTabSwitcher() {
    auto* switcher = new QWidget;
    auto* outer = new QHBoxLayout(switcher);
    outer->setContentsMargins(kSideInset, 0, kSideInset, 14);
    auto* well = new SegmentedWell;
    auto* buttons = new QHBoxLayout(well);
    buttons->setContentsMargins(3, 3, 3, 3);
    buttons->setSpacing(0);
    for (const SettingsTab tab : kSettingsTabs) {
        auto* button = new TabButton(toQString(rawValue(tab)),
                                     [this, tab] { return model_.selectedTab() == tab; });
        button->setObjectName(QStringLiteral("tab:") + button->text());
        connect(button, &QAbstractButton::clicked, this, [this, tab] { selectTab(tab); });
        buttons->addWidget(button);
    }
    outer->addWidget(well);
    return switcher;
}

void SettingsPanel::addSliderRow(QBoxLayout* parent, const QString& label, const char* name,
                                 GridSlider*& slider, ValueBadge*& badge,
                                 std::function<QString()> display) {
    auto* row = new QVBoxLayout;
    row->setSpacing(6);
    auto* line = new QHBoxLayout;
    line->addWidget(new LevelLabel(label, systemFont(12), TextLevel::secondary));
    line->addStretch();
    badge = new ValueBadge(std::move(display));
    badge->setObjectName(QString::fromLatin1(name) + QStringLiteral("Badge"));
    line->addWidget(badge);
    row->addLayout(line);
    slider = new GridSlider;
    slider->setObjectName(QString::fromLatin1(name) + QStringLiteral("Slider"));
    row->addWidget(slider);
    parent->addLayout(row);
}

QWidget* SettingsPanel::buildSettingsTab() {
    auto* tab = new QWidget;
    auto* rows = new QVBoxLayout(tab);
    rows->setContentsMargins(0, 0, 0, 0);
    rows->setSpacing(0);
    const auto addDivider = [rows] {
        addInset(rows, kSideInset, 0, kSideInset, 0)->addWidget(new Divider(Qt::Horizontal));
    };

    auto* pill = new StatusPill([this] { return model_.isEnabled(); });
    pill->setObjectName(QStringLiteral("statusPill"));
    connect(pill, &QAbstractButton::clicked, this, [this] { model_.toggleEnabled(); });
    addInset(rows, kSideInset, 0, kSideInset, 14)->addWidget(pill);
    addDivider();

    auto* sliders = addInset<QVBoxLayout>(rows, kSideInset, 14, kSideInset, 14);
    sliders->setSpacing(16);
    addSliderRow(sliders, QStringLiteral("Timeout"), "timeout", timeoutSlider_, timeoutBadge_,
                 [this] { return toQString(model_.timeoutBadge()); });
    addSliderRow(sliders, QStringLiteral("Size"), "size", sizeSlider_, sizeBadge_,
                 [this] { return toQString(model_.sizeBadge()); });
    // Integer positions on the grid; every step of a drag is stored at once.
    const auto bind = [this](GridSlider* slider, SliderGrid grid,
                             void (SettingsModel::*store)(double)) {
        slider->setRange(0, grid.positions() - 1);
        slider->setPageStep(2);
        connect(slider, &QSlider::valueChanged, this,
                [this, grid, store](int position) { (model_.*store)(grid.valueAt(position)); });
    };
    bind(timeoutSlider_, kTimeoutGrid, &SettingsModel::setIdleTimeout);
    bind(sizeSlider_, kSizeGrid, &SettingsModel::setZoneSize);
    addDivider();

    auto* launch = addInset(rows, kSideInset, 10, kSideInset, 10);
    launch->setSpacing(8);
    launch->addWidget(
        new LevelLabel(QStringLiteral("Launch at login"), systemFont(12), TextLevel::secondary));
    launch->addStretch();
    auto* launchSwitch = new MiniSwitch([this] { return model_.launchAtLogin(); });
    launchSwitch->setObjectName(QStringLiteral("launchAtLoginSwitch"));
    launchSwitch->setAccessibleName(QStringLiteral("Launch at login"));
    connect(launchSwitch, &QAbstractButton::clicked, this,
            [this] { model_.setLaunchAtLogin(!model_.launchAtLogin()); });
    launch->addWidget(launchSwitch);
    addDivider();

    resetButton_ = new PlateButton(QStringLiteral("Reset to Defaults"));
    resetButton_->setObjectName(QStringLiteral("resetButton"));
    connect(resetButton_, &QAbstractButton::clicked, this, [this] { model_.resetToDefaults(); });
    addInset(rows, kSideInset, 10, kSideInset, 14)->addWidget(resetButton_);
    return tab;
}

QWidget* SettingsPanel::buildWhatsNewTab() {
    auto* tab = new QWidget;
    auto* outer = new QVBoxLayout(tab);
    outer->setContentsMargins(0, 0, 0, kWhatsNewBottom);
    auto* area = new QWidget;
    area->setObjectName(QStringLiteral("whatsNewArea"));
    area->setFixedHeight(kWhatsNewHeight);
    outer->addWidget(area);

    auto* row = new QHBoxLayout(area);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    auto* chips = new QWidget;
    chips->setFixedWidth(70);
    auto* list = new QVBoxLayout(chips);
    list->setContentsMargins(0, 0, 0, 0);
    list->setSpacing(2);
    for (const Release& release : Release::all()) {
        auto* chip =
            new ReleaseChip(toQString(release.version), isLatestRelease(release),
                            [this, id = release.id] { return model_.selectedReleaseID() == id; });
        chip->setObjectName(QStringLiteral("release:") + toQString(release.id));
        connect(chip, &QAbstractButton::clicked, this,
                [this, id = release.id] { selectRelease(id); });
        list->addWidget(chip);
    }
    list->addStretch();
    addInset(row, 8, 2, 0, 0)->addWidget(chips);

    addInset(row, 0, 4, 0, 4)->addWidget(new Divider(Qt::Vertical));

    notes_ = new QScrollArea;
    notes_->setObjectName(QStringLiteral("releaseNotes"));
    notes_->setFrameShape(QFrame::NoFrame);
    notes_->setWidgetResizable(true);
    notes_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    notes_->viewport()->setAutoFillBackground(false);
    row->addWidget(notes_, 1);
    return tab;
}

void SettingsPanel::showSelectedRelease() {
    const Release* release = model_.selectedRelease();
    const std::string id = release != nullptr ? release->id : std::string();
    if (shownReleaseID_ == id) {
        return;
    }
    shownReleaseID_ = id;
    auto* content = new QWidget;
    content->setAutoFillBackground(false);
    if (release != nullptr) {
        auto* stack = new QVBoxLayout(content);
        stack->setContentsMargins(12, 8, 12, 8);
        stack->setSpacing(10);
        stack->addWidget(new ReleaseHeader(*release, isLatestRelease(*release)));
        auto* items = new QVBoxLayout;
        items->setSpacing(7);
        for (const ReleaseItem& item : release->items) {
            auto* line = new QHBoxLayout;
            line->setSpacing(6);
            line->setAlignment(Qt::AlignTop);
            line->addWidget(new SymbolGlyph(toQString(item.icon)), 0, Qt::AlignTop);
            auto* text = new LevelLabel(toQString(item.text), systemFont(11), TextLevel::secondary);
            text->setWordWrap(true);
            text->setAlignment(Qt::AlignLeft | Qt::AlignTop);
            line->addWidget(text, 1);
            items->addLayout(line);
        }
        stack->addLayout(items);
        stack->addStretch();
    }
    notes_->setWidget(content);
    notes_->verticalScrollBar()->setValue(0);
}

void SettingsPanel::refresh() {
    {
        const QSignalBlocker blockTimeout(timeoutSlider_);
        const QSignalBlocker blockSize(sizeSlider_);
        timeoutSlider_->setValue(kTimeoutGrid.positionNearest(model_.idleTimeout()));
        sizeSlider_->setValue(kSizeGrid.positionNearest(model_.zoneSize()));
    }
    timeoutBadge_->updateGeometry();
    sizeBadge_->updateGeometry();
    resetButton_->setEnabled(!model_.isDefaults());

    const bool onSettings = model_.selectedTab() == SettingsTab::settings;
    settingsTab_->setVisible(onSettings);
    whatsNewTab_->setVisible(!onSettings);
    showSelectedRelease();
    update();
}

QWidget* SettingsPanel::shownTab() const {
    return model_.selectedTab() == SettingsTab::settings ? settingsTab_ : whatsNewTab_;
}

void SettingsPanel::finishFade() {
    if (fade_ != nullptr) {
        fade_->setCurrentTime(fade_->totalDuration());
    }
}

void SettingsPanel::selectTab(SettingsTab tab) {
    finishFade();
    QWidget* before = shownTab();
    model_.selectTab(tab);
    QWidget* after = shownTab();
    if (after == before || !isVisible() || !desktopWantsAnimations(this)) {
        refresh();
        return;
    }
    const QPixmap picture = before->grab();
    const QPoint at = before->pos();
    refresh();
    fade_ = crossFade(before->parentWidget(), picture, at, after, kTabFadeMilliseconds);
}

void SettingsPanel::selectRelease(const std::string& id) {
    finishFade();
    const std::string before = model_.selectedReleaseID();
    model_.selectRelease(id);
    QWidget* viewport = notes_->viewport();
    if (model_.selectedReleaseID() == before || !viewport->isVisible() ||
        !desktopWantsAnimations(this)) {
        refresh();
        return;
    }
    const QPixmap picture = viewport->grab();
    refresh();
    fade_ = crossFade(notes_, picture, viewport->pos(), notes_->widget(), kReleaseFadeMilliseconds);
}

void SettingsPanel::styleScrollBar() {
    // A slim bar in the text colour, so the notes pane keeps the look of the rest.
    const QColor handle = textTint(palette(), 0.22);
    notes_->verticalScrollBar()->setStyleSheet(
        QStringLiteral("QScrollBar:vertical { background: transparent; width: 8px;"
                       " margin: 3px 2px 3px 0; }"
                       "QScrollBar::handle:vertical { background: rgba(%1, %2, %3, %4);"
                       " border-radius: 3px; min-height: 24px; }"
                       "QScrollBar::add-line:vertical, QScrollBar::sub-line:vertical"
                       " { height: 0; }"
                       "QScrollBar::add-page:vertical, QScrollBar::sub-page:vertical"
                       " { background: transparent; }")
            .arg(handle.red())
            .arg(handle.green())
            .arg(handle.blue())
            .arg(handle.alpha()));
}

void SettingsPanel::changeEvent(QEvent* event) {
    if (event->type() == QEvent::PaletteChange) {
        styleScrollBar();
    }
    QWidget::changeEvent(event);
}

void SettingsPanel::closeEvent(QCloseEvent* event) {
    QWidget::closeEvent(event);
    if (!event->isAccepted() || !onClose) {
        return;
    }
    closing_ = true;
    // A copy: the handler may end the owner, which clears onClose.
    const auto handler = onClose;
    handler();
    closing_ = false;
}

// Puts `panel` so that its frame, as far as it is known, is centred on `area`.
void placeCentred(QWidget* panel, const QRect& area, const QMargins& frame) {
    QRect placed(QPoint(), panel->size().grownBy(frame));
    placed.moveCenter(area.center());
    // A top-level widget's position is its frame's.
    panel->move(placed.topLeft());
    qCDebug(lcSettings) << "settings window placed at" << panel->geometry() << "with frame" << frame
                        << "on" << area;
}

QMargins frameMarginsOf(const QWidget* panel) {
    const QWindow* window = panel->windowHandle();
    return window != nullptr ? window->frameMargins() : QMargins();
}

}  // namespace

struct SettingsWindowWidget::State : QObject {
    State(Platform& platform, SettingsPanel* panel) : platform(platform), panel(panel) {
        panel->installEventFilter(this);
    }

    // Until the window manager has framed the window, its frame is a guess; once the frame is
    // known the window is centred again if the guess was wrong.
    bool eventFilter(QObject* watched, QEvent* event) override {
        // Filtering only the panel; `watched` rather than `panel`, which may be mid-destruction.
        auto* widget = static_cast<QWidget*>(watched);
        // The manager frames the window around its mapping; Qt learns of it at whichever of
        // these comes first.
        const QEvent::Type type = event->type();
        if (pendingArea && (type == QEvent::Move || type == QEvent::Resize ||
                            type == QEvent::Paint || type == QEvent::WindowActivate)) {
            const QMargins frame = frameMarginsOf(widget);
            qCDebug(lcSettings) << "settings window" << event->type() << widget->geometry()
                                << "frame" << frame;
            if (!frame.isNull()) {
                lastKnownFrameMargins = frame;
                const QRect area = *std::exchange(pendingArea, std::nullopt);
                if (frame != assumedFrame) {
                    placeCentred(widget, area, frame);
                }
            }
        }
        return false;
    }

    Platform& platform;
    QPointer<SettingsPanel> panel;
    std::optional<QRect> pendingArea;
    QMargins assumedFrame;
};

SettingsWindowWidget::SettingsWindowWidget(
    Platform& platform, std::function<void(const SettingsWindow*)> windowWillClose)
    : state_(std::make_unique<State>(platform, new SettingsPanel(platform))) {
    state_->panel->onClose = [this, windowWillClose = std::move(windowWillClose)] {
        windowWillClose(this);
    };
    // Observers stay registered for good; once the panel is gone this one does nothing.
    platform.preferences().addChangeObserver([panel = state_->panel] {
        if (panel) {
            panel->refresh();
        }
    });
}

SettingsWindowWidget::~SettingsWindowWidget() {
    SettingsPanel* panel = state_->panel;
    if (panel == nullptr || QCoreApplication::instance() == nullptr) {
        return;
    }
    panel->onClose = nullptr;
    // Ending inside the panel's own close handler: let that handler return first.
    if (panel->isClosing()) {
        panel->deleteLater();
    } else {
        delete panel;
    }
}

void SettingsWindowWidget::center() {
    SettingsPanel* panel = state_->panel;
    if (panel == nullptr) {
        return;
    }
    panel->adjustSize();
    // The screen the user is looking at is the one with the pointer: they just used the tray.
    QScreen* screen = QGuiApplication::screenAt(QCursor::pos());
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        return;
    }
    const QRect area = screen->availableGeometry();
    QMargins frame = frameMarginsOf(panel);
    if (frame.isNull()) {
        frame = lastKnownFrameMargins;
        state_->pendingArea = area;
        state_->assumedFrame = frame;
    }
    placeCentred(panel, area, frame);
}

void SettingsWindowWidget::setLevel(WindowLevel level) {
    SettingsPanel* panel = state_->panel;
    if (panel == nullptr) {
        return;
    }
    panel->winId();
    // Straight on the QWindow: QWidget::setWindowFlags would hide and recreate the window.
    // On X11 Qt sends _NET_WM_STATE to a mapped window and writes it before mapping one.
    if (QWindow* window = panel->windowHandle()) {
        window->setFlag(Qt::WindowStaysOnTopHint, level == WindowLevel::floating);
    }
}

void SettingsWindowWidget::makeKeyAndOrderFront() {
    SettingsPanel* panel = state_->panel;
    if (panel == nullptr) {
        return;
    }
    panel->setWindowState(panel->windowState() & ~Qt::WindowMinimized);
    panel->show();
    panel->raise();
    panel->activateWindow();
}

}  // namespace dovetrel::app
