#include "app/ui/settings/controls.h"

#include <QApplication>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QProxyStyle>
#include <QStyleOptionSlider>
#include <QtMath>
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "app/ui/pointer_glyph.h"
#include "core/release_notes.h"

namespace dovetrel::app {
namespace {

// The stack spacing that separates a dot from its label, a version from its badge.
constexpr double kDefaultSpacing = 8.0;

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

// A line that is half a point wide where the screen can show it, else one pixel: thinner
// lines on a plain screen only blur.
double hairline(const QWidget* widget) {
    return std::max(0.5, 1.0 / widget->devicePixelRatioF());
}

QColor secondaryTint(const QPalette& palette, double opacity) {
    return withOpacity(levelColor(palette, TextLevel::secondary), opacity);
}

// The colour behind controls that sit raised on the window.
QColor controlBackground(const QPalette& palette) {
    return palette.color(QPalette::Base);
}

// A rounded rectangle with an outline drawn inside its bounds.
void strokeBorder(QPainter& painter, const QRectF& rect, double radius, const QColor& color,
                  double width) {
    const double inset = width / 2;
    painter.setPen(QPen(color, width));
    painter.setBrush(Qt::NoBrush);
    painter.drawRoundedRect(rect.adjusted(inset, inset, -inset, -inset), radius - inset,
                            radius - inset);
}

void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& color) {
    painter.setPen(Qt::NoPen);
    painter.setBrush(color);
    painter.drawRoundedRect(rect, radius, radius);
}

void fillDot(QPainter& painter, QPointF centre, double diameter, const QColor& color) {
    QPainterPath dot;
    dot.addEllipse(centre, diameter / 2, diameter / 2);
    painter.fillPath(dot, color);
}

// Text drawn with its left end at `x`, centred vertically on `centreY`.
double drawTextAt(QPainter& painter, double x, double centreY, const QString& text,
                  const QFont& font, const QColor& color) {
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.setPen(color);
    const double baseline = centreY + (metrics.ascent() - metrics.descent()) / 2;
    painter.drawText(QPointF(x, baseline), text);
    return metrics.horizontalAdvance(text);
}

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

// --- Release-note symbols drawn in code, on a 10 x 10 grid -----------------------------

void addArrowHead(QPainterPath& path, QPointF tip, QPointF direction, double size) {
    const double length = std::hypot(direction.x(), direction.y());
    const QPointF along = direction / length * size;
    const QPointF across(-along.y(), along.x());
    path.moveTo(tip - along + across * 0.75);
    path.lineTo(tip);
    path.lineTo(tip - along - across * 0.75);
}

QPointF onCircle(QPointF centre, double radius, double degrees) {
    const double radians = qDegreesToRadians(degrees);
    return centre + QPointF(std::cos(radians), -std::sin(radians)) * radius;
}

// An open circle from `startDegrees` sweeping `sweepDegrees` (counterclockwise when
// positive), with an arrow head at its end.
void addCircularArrow(QPainterPath& path, QPointF centre, double radius, double startDegrees,
                      double sweepDegrees) {
    const QRectF circle(centre.x() - radius, centre.y() - radius, radius * 2, radius * 2);
    path.arcMoveTo(circle, startDegrees);
    path.arcTo(circle, startDegrees, sweepDegrees);
    const double end = startDegrees + sweepDegrees;
    const double radians = qDegreesToRadians(end);
    const double turn = sweepDegrees > 0 ? 1.0 : -1.0;
    addArrowHead(path, onCircle(centre, radius, end),
                 QPointF(-std::sin(radians), -std::cos(radians)) * turn, 2.0);
}

QPainterPath shieldOutline() {
    QPainterPath path;
    path.moveTo(5, 0.6);
    path.lineTo(8.8, 2.0);
    path.lineTo(8.8, 4.9);
    path.cubicTo(8.8, 7.3, 7.0, 8.9, 5, 9.6);
    path.cubicTo(3.0, 8.9, 1.2, 7.3, 1.2, 4.9);
    path.lineTo(1.2, 2.0);
    path.closeSubpath();
    return path;
}

// Draws the glyph for `name`; a name with no glyph of its own gets a dot.
void drawGlyph(QPainter& painter, const QString& name, const QColor& color) {
    const QPen line(color, 1.1, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(line);
    painter.setBrush(Qt::NoBrush);
    QPainterPath path;
    if (name.contains(QStringLiteral("shield"))) {
        const QPainterPath shield = shieldOutline();
        painter.drawPath(shield);
        if (name.startsWith(QStringLiteral("shield.lefthalf"))) {
            painter.save();
            painter.setClipRect(QRectF(0, 0, 5, 10));
            painter.fillPath(shield, color);
            painter.restore();
        } else if (name.startsWith(QStringLiteral("checkmark"))) {
            path.moveTo(3.3, 5.0);
            path.lineTo(4.5, 6.3);
            path.lineTo(6.8, 3.7);
        } else if (name.startsWith(QStringLiteral("lock"))) {
            painter.fillRect(QRectF(3.4, 4.6, 3.2, 2.5), color);
            path.moveTo(4.0, 4.7);
            path.lineTo(4.0, 3.9);
            path.arcTo(QRectF(4.0, 2.9, 2.0, 2.0), 180, -180);
            path.lineTo(6.0, 4.7);
        }
    } else if (name == QLatin1String("arrow.counterclockwise")) {
        addCircularArrow(path, {5, 5.4}, 3.8, 100, -290);
    } else if (name == QLatin1String("arrow.triangle.2.circlepath")) {
        addCircularArrow(path, {5, 5}, 3.9, 20, 140);
        addCircularArrow(path, {5, 5}, 3.9, 200, 140);
    } else if (name == QLatin1String("location")) {
        path.moveTo(9.0, 1.0);
        path.lineTo(1.0, 4.6);
        path.lineTo(5.0, 5.0);
        path.lineTo(5.4, 9.0);
        path.closeSubpath();
    } else if (name == QLatin1String("arrow.down.circle")) {
        path.addEllipse(QPointF(5, 5), 4.3, 4.3);
        path.moveTo(5, 2.7);
        path.lineTo(5, 7.1);
        addArrowHead(path, {5, 7.1}, {0, 1}, 1.9);
    } else if (name == QLatin1String("app.badge")) {
        path.addRoundedRect(QRectF(1.0, 2.2, 6.8, 6.8), 1.8, 1.8);
        fillDot(painter, {8.1, 1.9}, 3.2, color);
    } else if (name.startsWith(QStringLiteral("cursorarrow"))) {
        drawPointerArrow(painter, QRectF(3.6, 3.2, 5.6, 7.0), color);
        path.moveTo(3.5, 2.2);
        path.lineTo(3.5, 0.6);
        path.moveTo(2.2, 3.5);
        path.lineTo(0.6, 3.5);
        path.moveTo(2.4, 2.4);
        path.lineTo(1.3, 1.3);
    } else if (name == QLatin1String("square.dashed")) {
        QPen dashed = line;
        dashed.setDashPattern({1.6, 1.4});
        painter.setPen(dashed);
        painter.drawRoundedRect(QRectF(1.2, 1.2, 7.6, 7.6), 1.6, 1.6);
    } else if (name.startsWith(QStringLiteral("moon"))) {
        QPainterPath disc;
        disc.addEllipse(QPointF(4.3, 5.8), 3.7, 3.7);
        QPainterPath bite;
        bite.addEllipse(QPointF(6.6, 4.2), 3.0, 3.0);
        painter.fillPath(disc.subtracted(bite), color);
        painter.setPen(QPen(color, 0.9, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        path.moveTo(6.6, 0.7);
        path.lineTo(9.0, 0.7);
        path.lineTo(6.6, 3.1);
        path.lineTo(9.0, 3.1);
    } else if (name == QLatin1String("eye")) {
        path.moveTo(0.6, 5);
        path.quadTo(5, -0.8, 9.4, 5);
        path.quadTo(5, 10.8, 0.6, 5);
        fillDot(painter, {5, 5}, 3.2, color);
    } else if (name.startsWith(QStringLiteral("hand"))) {
        for (const auto& [x, top] : std::array<std::pair<double, double>, 4>{
                 {{2.6, 2.4}, {4.2, 1.0}, {5.8, 1.2}, {7.4, 2.6}}}) {
            path.moveTo(x, 5.2);
            path.lineTo(x, top);
        }
        path.addRoundedRect(QRectF(2.0, 4.6, 6.0, 4.9), 2.2, 2.2);
        path.moveTo(2.1, 7.0);
        path.lineTo(0.9, 5.6);
    } else if (name.startsWith(QStringLiteral("gearshape"))) {
        for (int tooth = 0; tooth < 8; ++tooth) {
            path.moveTo(onCircle({5, 5}, 3.2, tooth * 45.0));
            path.lineTo(onCircle({5, 5}, 4.5, tooth * 45.0));
        }
        painter.setPen(QPen(color, 1.6, Qt::SolidLine, Qt::FlatCap));
        painter.drawPath(path);
        path.clear();
        painter.setPen(line);
        path.addEllipse(QPointF(5, 5), 3.0, 3.0);
        path.addEllipse(QPointF(5, 5), 1.1, 1.1);
    } else if (name == QLatin1String("arrow.right.to.line")) {
        path.moveTo(0.9, 5);
        path.lineTo(6.6, 5);
        addArrowHead(path, {6.6, 5}, {1, 0}, 2.2);
        path.moveTo(9.0, 1.4);
        path.lineTo(9.0, 8.6);
    } else {
        fillDot(painter, {5, 5}, 3.2, color);
    }
    painter.drawPath(path);
}

}  // namespace

QColor withOpacity(QColor color, double opacity) {
    color.setAlphaF(float(std::clamp(color.alphaF() * opacity, 0.0, 1.0)));
    return color;
}

QColor levelColor(const QPalette& palette, TextLevel level) {
    static constexpr std::array<double, 4> kLight{0.85, 0.5, 0.26, 0.1};
    static constexpr std::array<double, 4> kDark{0.85, 0.55, 0.25, 0.1};
    const auto& opacities = isDark(palette) ? kDark : kLight;
    return textTint(palette, opacities[static_cast<size_t>(level)]);
}

QColor textTint(const QPalette& palette, double opacity) {
    return withOpacity(palette.color(QPalette::WindowText), opacity);
}

QColor systemGreen(const QPalette& palette) {
    return isDark(palette) ? QColor(48, 209, 88) : QColor(52, 199, 89);
}

QColor systemBlue(const QPalette& palette) {
    return isDark(palette) ? QColor(10, 132, 255) : QColor(0, 122, 255);
}

QFont systemFont(int pixelSize, QFont::Weight weight) {
    QFont font = QGuiApplication::font();
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

QFont monospacedFont(int pixelSize, QFont::Weight weight) {
    QFont font = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    return font;
}

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

// --- SymbolGlyph -------------------------------------------------------------------------

QString themeIconName(const QString& symbolName) {
    static const std::array<std::pair<const char*, const char*>, 10> kThemeNames{{
        {"shield.lefthalf.filled", "security-medium"},
        {"checkmark.shield", "security-high"},
        {"lock.shield", "system-lock-screen"},
        {"arrow.counterclockwise", "object-rotate-left"},
        {"arrow.triangle.2.circlepath", "view-refresh"},
        {"arrow.down.circle", "go-down"},
        {"cursorarrow.click.2", "input-mouse"},
        {"moon.zzz", "weather-clear-night"},
        {"gearshape", "preferences-system"},
        {"arrow.right.to.line", "go-last"},
    }};
    for (const auto& [symbol, theme] : kThemeNames) {
        if (symbolName == QLatin1String(symbol)) {
            return QString::fromLatin1(theme);
        }
    }
    return {};
}

SymbolGlyph::SymbolGlyph(const QString& symbolName, QWidget* parent)
    : QWidget(parent), symbolName_(symbolName) {
    setFixedSize(14, 14);
}

void SymbolGlyph::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor color = levelColor(palette(), TextLevel::secondary);
    const QString themed = themeIconName(symbolName_);
    if (!themed.isEmpty() && QIcon::hasThemeIcon(themed)) {
        // Theme pictures come in their own colours; tint them so the list reads as one set.
        const double ratio = devicePixelRatioF();
        QPixmap picture = QIcon::fromTheme(themed).pixmap(QSize(11, 11), ratio);
        if (!picture.isNull()) {
            QPainter tint(&picture);
            tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
            tint.fillRect(picture.rect(), color);
            tint.end();
            const QSizeF size = QSizeF(picture.size()) / picture.devicePixelRatio();
            painter.drawPixmap(
                QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), picture);
            return;
        }
    }
    painter.translate((width() - 10) / 2.0, (height() - 10) / 2.0);
    drawGlyph(painter, symbolName_, color);
}

}  // namespace dovetrel::app
