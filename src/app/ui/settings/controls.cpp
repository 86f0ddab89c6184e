#include "app/ui/settings/controls.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontMetricsF>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionSlider>
#include <utility>

#include "app/ui/pointer_glyph.h"
#include "app/ui/settings/look.h"
#include "core/release_notes.h"

namespace dovetrel::app {
namespace {

// The stack spacing that separates a dot from its label, a version from its badge.
constexpr double kDefaultSpacing = 8.0;

// Lets a press anywhere on the track move the knob there and start dragging it, as sliders
// do elsewhere on the desktop, instead of paging.
class JumpingSliderStyle : public QProxyStyle {
  public:
    using QProxyStyle::QProxyStyle;
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returned) const override {
        if (hint == SH_Slider_AbsoluteSetButtons) {
            return Qt::LeftButton;
        }
        return QProxyStyle::styleHint(hint, option, widget, returned);
    }
};

}  // namespace

// --- LevelLabel --------------------------------------------------------------------------

LevelLabel::LevelLabel(const QString& text, const QFont& font, TextLevel level, QWidget* parent)
    : QLabel(text, parent), level_(level) {
    setTextFormat(Qt::PlainText);
    setFont(font);
}

void LevelLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setFont(font());
    painter.setPen(levelColor(palette(), level_));
    const int flags = int(alignment()) | (wordWrap() ? int(Qt::TextWordWrap) : 0);
    painter.drawText(contentsRect(), flags, text());
}

// --- PaintedButton -----------------------------------------------------------------------

PaintedButton::PaintedButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::TabFocus);
}

void PaintedButton::focusInEvent(QFocusEvent* event) {
    keyboardFocus_ =
        event->reason() == Qt::TabFocusReason || event->reason() == Qt::BacktabFocusReason;
    QAbstractButton::focusInEvent(event);
}

void PaintedButton::drawFocusRing(QPainter& painter, const QRectF& rect, double radius) const {
    if (!hasFocus() || !keyboardFocus_) {
        return;
    }
    strokeBorder(painter, rect, radius, withOpacity(systemBlue(palette()), 0.6), 2.0);
}

// --- IconTile ----------------------------------------------------------------------------

IconTile::IconTile(QWidget* parent) : QWidget(parent) {
    setFixedSize(48, 48);
}

void IconTile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF tile(0, 0, 48, 48);
    fillRounded(painter, tile, 14, secondaryTint(palette(), 0.08));
    strokeBorder(painter, tile, 14, secondaryTint(palette(), 0.15), hairline(this));
    drawPointerArrow(painter, QRectF(17, 14, 14, 20), levelColor(palette(), TextLevel::primary));
}

// --- LinkButton --------------------------------------------------------------------------

LinkButton::LinkButton(const QString& label, QWidget* parent) : PaintedButton(parent) {
    setText(label);
    setFont(systemFont(11));
    setCursor(Qt::PointingHandCursor);
}

QSize LinkButton::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text()) + 4, metrics.height()};
}

void LinkButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setFont(font());
    painter.setPen(withOpacity(systemBlue(palette()), isDown() ? 0.5 : 0.8));
    painter.drawText(rect(), Qt::AlignCenter, text());
    drawFocusRing(painter, rect(), 3);
}

// --- SegmentedWell -----------------------------------------------------------------------

SegmentedWell::SegmentedWell(QWidget* parent) : QWidget(parent) {}

void SegmentedWell::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    fillRounded(painter, rect(), 8, secondaryTint(palette(), 0.08));
}

// --- TabButton ---------------------------------------------------------------------------

TabButton::TabButton(const QString& title, std::function<bool()> isSelected, QWidget* parent)
    : PaintedButton(parent), isSelected_(std::move(isSelected)) {
    setText(title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize TabButton::sizeHint() const {
    return {QFontMetrics(systemFont(11, QFont::DemiBold)).horizontalAdvance(text()) + 16, 26};
}

void TabButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool selected = isSelected_();
    const QRectF area = rect();
    if (selected) {
        // A faint shadow one point below, softened by a half-point spread.
        fillRounded(painter, area.translated(0, 1).adjusted(-0.5, -0.5, 0.5, 0.5), 6.5,
                    QColor(0, 0, 0, 15));
        fillRounded(painter, area, 6, controlBackground(palette()));
    }
    painter.setFont(systemFont(11, selected ? QFont::DemiBold : QFont::Normal));
    painter.setPen(levelColor(palette(), selected ? TextLevel::primary : TextLevel::secondary));
    painter.drawText(area, Qt::AlignCenter, text());
    drawFocusRing(painter, area, 6);
}

// --- StatusPill --------------------------------------------------------------------------

StatusPill::StatusPill(std::function<bool()> isOn, QWidget* parent)
    : PaintedButton(parent), isOn_(std::move(isOn)) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize StatusPill::sizeHint() const {
    return {160, 32};
}

void StatusPill::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool on = isOn_();
    const QPalette& colours = palette();
    const QColor green = systemGreen(colours);
    const QRectF area = rect();
    fillRounded(painter, area, 8,
                on ? withOpacity(green, 0.1) : secondaryTint(colours, isDown() ? 0.1 : 0.06));
    strokeBorder(painter, area, 8, on ? withOpacity(green, 0.25) : secondaryTint(colours, 0.12),
                 hairline(this));

    const QString label = on ? QStringLiteral("Active") : QStringLiteral("Disabled");
    const QFont font = systemFont(12, QFont::DemiBold);
    const double contentWidth = 8 + kDefaultSpacing + QFontMetricsF(font).horizontalAdvance(label);
    const double left = area.center().x() - contentWidth / 2;
    fillDot(painter, {left + 4, area.center().y()}, 8, on ? green : secondaryTint(colours, 0.3));
    drawTextAt(painter, left + 8 + kDefaultSpacing, area.center().y(), label, font,
               levelColor(colours, on ? TextLevel::primary : TextLevel::secondary));
    drawFocusRing(painter, area, 8);
}

// --- Divider -----------------------------------------------------------------------------

Divider::Divider(Qt::Orientation orientation, QWidget* parent)
    : QWidget(parent), orientation_(orientation) {
    if (orientation == Qt::Horizontal) {
        setFixedHeight(1);
    } else {
        setFixedWidth(1);
    }
}

void Divider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    const double width = hairline(this);
    const QRectF line = orientation_ == Qt::Horizontal ? QRectF(0, 0, this->width(), width)
                                                       : QRectF(0, 0, width, height());
    painter.fillRect(line, levelColor(palette(), TextLevel::quaternary));
}

// --- ValueBadge --------------------------------------------------------------------------

ValueBadge::ValueBadge(std::function<QString()> text, QWidget* parent)
    : QWidget(parent), text_(std::move(text)) {
    setFont(monospacedFont(11, QFont::Medium));
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize ValueBadge::sizeHint() const {
    const QFontMetrics metrics(font());
    return {metrics.horizontalAdvance(text_()) + 12, metrics.height() + 4};
}

void ValueBadge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    fillRounded(painter, rect(), 4, secondaryTint(palette(), 0.1));
    painter.setFont(font());
    painter.setPen(levelColor(palette(), TextLevel::primary));
    painter.drawText(rect(), Qt::AlignCenter, text_());
}

// --- GridSlider --------------------------------------------------------------------------

GridSlider::GridSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    auto* style = new JumpingSliderStyle(QApplication::style()->name());
    style->setParent(this);
    setStyle(style);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setFixedHeight(16);
}

QSize GridSlider::sizeHint() const {
    return {160, 16};
}

void GridSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRectF handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const double middle = height() / 2.0;
    const QPointF knob(handle.center().x(), middle);
    const double trackStart = handle.width() / 2 - 2;
    const double trackEnd = width() - handle.width() / 2 + 2;
    const QPalette& colours = palette();

    fillRounded(painter, QRectF(trackStart, middle - 2, trackEnd - trackStart, 4), 2,
                textTint(colours, isDark(colours) ? 0.2 : 0.12));
    fillRounded(painter, QRectF(trackStart, middle - 2, knob.x() - trackStart, 4), 2,
                isEnabled() ? systemBlue(colours) : textTint(colours, 0.25));

    constexpr double kKnob = 14;
    fillDot(painter, knob + QPointF(0, 0.5), kKnob + 1, QColor(0, 0, 0, isSliderDown() ? 60 : 40));
    fillDot(painter, knob, kKnob, isDark(colours) ? QColor(225, 225, 228) : QColor(Qt::white));
}

// --- MiniSwitch --------------------------------------------------------------------------

MiniSwitch::MiniSwitch(std::function<bool()> isOn, QWidget* parent)
    : PaintedButton(parent), isOn_(std::move(isOn)) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize MiniSwitch::sizeHint() const {
    return {26, 15};
}

void MiniSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool on = isOn_();
    const QPalette& colours = palette();
    const QRectF track = QRectF(QPointF(0, 0), QSizeF(sizeHint()))
                             .translated((width() - sizeHint().width()) / 2.0,
                                         (height() - sizeHint().height()) / 2.0);
    const double radius = track.height() / 2;
    fillRounded(painter, track, radius,
                on ? systemBlue(colours) : textTint(colours, isDark(colours) ? 0.25 : 0.13));
    const double knob = track.height() - 2;
    const double x = on ? track.right() - 1 - knob / 2 : track.left() + 1 + knob / 2;
    fillDot(painter, {x, track.center().y() + 0.3}, knob + 0.6, QColor(0, 0, 0, 45));
    fillDot(painter, {x, track.center().y()}, knob, QColor(Qt::white));
    drawFocusRing(painter, track.adjusted(-2, -2, 2, 2), radius + 2);
}

// --- PlateButton -------------------------------------------------------------------------

PlateButton::PlateButton(const QString& title, QWidget* parent) : PaintedButton(parent) {
    setText(title);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize PlateButton::sizeHint() const {
    return {160, 30};
}

void PlateButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool enabled = isEnabled();
    const double plate = !enabled ? 0.03 : isDown() ? 0.14 : 0.08;
    fillRounded(painter, rect(), 8, secondaryTint(palette(), plate));
    painter.setFont(systemFont(12, QFont::Medium));
    painter.setPen(levelColor(palette(), enabled ? TextLevel::secondary : TextLevel::quaternary));
    painter.drawText(rect(), Qt::AlignCenter, text());
    drawFocusRing(painter, rect(), 8);
}

// --- ReleaseChip -------------------------------------------------------------------------

ReleaseChip::ReleaseChip(const QString& version, bool isLatest, std::function<bool()> isSelected,
                         QWidget* parent)
    : PaintedButton(parent), isLatest_(isLatest), isSelected_(std::move(isSelected)) {
    setText(version);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize ReleaseChip::sizeHint() const {
    const QFontMetrics metrics(systemFont(11, QFont::DemiBold));
    return {metrics.horizontalAdvance(text()) + 16 + (isLatest_ ? 9 : 0), metrics.height() + 10};
}

void ReleaseChip::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const bool selected = isSelected_();
    const QPalette& colours = palette();
    if (selected) {
        fillRounded(painter, rect(), 5, controlBackground(colours));
    }
    double x = 8;
    const double middle = height() / 2.0;
    if (isLatest_) {
        fillDot(painter, {x + 2.5, middle}, 5, systemGreen(colours));
        x += 5 + 4;
    }
    drawTextAt(painter, x, middle, text(),
               systemFont(11, selected ? QFont::DemiBold : QFont::Normal),
               levelColor(colours, selected ? TextLevel::primary : TextLevel::secondary));
    drawFocusRing(painter, rect(), 5);
}

// --- ReleaseHeader -----------------------------------------------------------------------

namespace {

QFont versionFont() {
    return systemFont(13, QFont::DemiBold);
}
QFont badgeFont() {
    return systemFont(9, QFont::DemiBold);
}
QFont dateFont() {
    return systemFont(10);
}
const QString& latestLabel() {
    static const QString label = QStringLiteral("Latest");
    return label;
}

}  // namespace

ReleaseHeader::ReleaseHeader(const Release& release, bool isLatest, QWidget* parent)
    : QWidget(parent),
      version_(QString::fromStdString(release.version)),
      date_(QString::fromStdString(release.date)),
      isLatest_(isLatest) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

QSize ReleaseHeader::sizeHint() const {
    const QFontMetrics version(versionFont());
    const QFontMetrics badge(badgeFont());
    const QFontMetrics date(dateFont());
    int width =
        version.horizontalAdvance(version_) + int(kDefaultSpacing) + date.horizontalAdvance(date_);
    if (isLatest_) {
        width += badge.horizontalAdvance(latestLabel()) + 10 + int(kDefaultSpacing);
    }
    return {width, version.height()};
}

QSize ReleaseHeader::minimumSizeHint() const {
    return sizeHint();
}

void ReleaseHeader::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPalette& colours = palette();
    const QFontMetricsF version(versionFont());
    const double baseline = version.ascent();

    painter.setFont(versionFont());
    painter.setPen(levelColor(colours, TextLevel::primary));
    painter.drawText(QPointF(0, baseline), version_);
    double x = version.horizontalAdvance(version_) + kDefaultSpacing;

    if (isLatest_) {
        const QFontMetricsF badge(badgeFont());
        const double textWidth = badge.horizontalAdvance(latestLabel());
        const QRectF capsule(x, baseline - badge.ascent() - 2, textWidth + 10,
                             badge.ascent() + badge.descent() + 4);
        const QColor green = systemGreen(colours);
        fillRounded(painter, capsule, capsule.height() / 2, withOpacity(green, 0.12));
        painter.setFont(badgeFont());
        painter.setPen(green);
        painter.drawText(QPointF(x + 5, baseline), latestLabel());
    }

    const QFontMetricsF date(dateFont());
    painter.setFont(dateFont());
    painter.setPen(levelColor(colours, TextLevel::tertiary));
    painter.drawText(QPointF(width() - date.horizontalAdvance(date_), baseline), date_);
}

}  // namespace dovetrel::app
