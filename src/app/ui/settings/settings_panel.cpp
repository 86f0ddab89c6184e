#include "app/ui/settings/settings_panel.h"

#include <QAbstractAnimation>
#include <QCloseEvent>
#include <QEvent>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QScrollArea>
#include <QScrollBar>
#include <QShortcut>
#include <QSignalBlocker>
#include <QVBoxLayout>
#include <utility>

#include "app/ui/settings/controls.h"
#include "app/ui/settings/cross_fade.h"
#include "app/ui/settings/glyphs.h"
#include "core/app_delegate.h"
#include "core/release_notes.h"

namespace dovetrel::app {
namespace {

constexpr int kPanelWidth = 380;
constexpr int kWhatsNewHeight = 240;
constexpr int kWhatsNewBottom = 12;
constexpr int kSideInset = 20;
// The cross-fades of the tab switch and of the release list.
constexpr int kTabFadeMilliseconds = 150;
constexpr int kReleaseFadeMilliseconds = 120;

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
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

}  // namespace

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

}  // namespace dovetrel::app
