// The look every piece of the settings window shares: text levels, tints, the system colours
// and fonts, and the few painting steps several widgets take alike.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QPointF>
#include <QRectF>
#include <QString>

class QPainter;
class QWidget;

namespace dovetrel::app {

// Hierarchical text: the palette's text colour at decreasing opacity.
enum class TextLevel { primary, secondary, tertiary, quaternary };

QColor levelColor(const QPalette& palette, TextLevel level);
// The palette's text colour at `opacity`, for fills and outlines.
QColor textTint(const QPalette& palette, double opacity);
QColor systemGreen(const QPalette& palette);
QColor systemBlue(const QPalette& palette);
QColor withOpacity(QColor color, double opacity);

// The system font at `pixelSize` device-independent pixels.
QFont systemFont(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont monospacedFont(int pixelSize, QFont::Weight weight = QFont::Normal);

// Whether the palette is a dark one, judged by its window colour.
bool isDark(const QPalette& palette);

// A line that is half a point wide where the screen can show it, else one pixel: thinner
// lines on a plain screen only blur.
double hairline(const QWidget* widget);

// The secondary text colour at `opacity`, for plates and wells.
QColor secondaryTint(const QPalette& palette, double opacity);

// The colour behind controls that sit raised on the window.
QColor controlBackground(const QPalette& palette);

// A rounded rectangle with an outline drawn inside its bounds.
void strokeBorder(QPainter& painter, const QRectF& rect, double radius, const QColor& color,
                  double width);

void fillRounded(QPainter& painter, const QRectF& rect, double radius, const QColor& color);

void fillDot(QPainter& painter, QPointF centre, double diameter, const QColor& color);

// Text drawn with its left end at `x`, centred vertically on `centreY`. Returns its width.
double drawTextAt(QPainter& painter, double x, double centreY, const QString& text,
                  const QFont& font, const QColor& color);

}  // namespace dovetrel::app
