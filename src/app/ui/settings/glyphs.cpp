#include "app/ui/settings/glyphs.h"

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QtMath>
#include <array>
#include <cmath>
#include <utility>

#include "app/ui/pointer_glyph.h"
#include "app/ui/settings/look.h"

namespace dovetrel::app {
namespace {

// The glyphs drawn in code, on a 10 x 10 grid.

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
