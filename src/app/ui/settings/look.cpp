#include "app/ui/settings/look.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QGuiApplication>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <algorithm>
#include <array>

namespace dovetrel::app {

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

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

double hairline(const QWidget* widget) {
    return std::max(0.5, 1.0 / widget->devicePixelRatioF());
}

QColor secondaryTint(const QPalette& palette, double opacity) {
    return withOpacity(levelColor(palette, TextLevel::secondary), opacity);
}

QColor controlBackground(const QPalette& palette) {
    return palette.color(QPalette::Base);
}

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

double drawTextAt(QPainter& painter, double x, double centreY, const QString& text,
                  const QFont& font, const QColor& color) {
    const QFontMetricsF metrics(font);
    painter.setFont(font);
    painter.setPen(color);
    const double baseline = centreY + (metrics.ascent() - metrics.descent()) / 2;
    painter.drawText(QPointF(x, baseline), text);
    return metrics.horizontalAdvance(text);
}

}  // namespace dovetrel::app
