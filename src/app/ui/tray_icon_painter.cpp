#include "app/ui/tray_icon_painter.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>
#include <algorithm>

#include "app/ui/pointer_glyph.h"

namespace dovetrel::app {
namespace {

// A thin outline around the fill, in 18 x 18 units, gives the glyph a medium weight and
// softens its corners.
constexpr double kArrowWeight = 0.55;

QColor withAlpha(const QColor& color, double alpha) {
    QColor result = color;
    result.setAlphaF(float(color.alphaF() * alpha));
    return result;
}

// The description is in bottom-left-origin coordinates; QPainter's are top-left.
QPointF flipped(const Point& point, double height) {
    return {point.x, height - point.y};
}

QRectF flipped(const Rect& rect, double height) {
    return {rect.origin.x, height - rect.origin.y - rect.size.height, rect.size.width,
            rect.size.height};
}

QColor foregroundFor(QIcon::Mode mode) {
    const QPalette palette = QGuiApplication::palette();
    switch (mode) {
        case QIcon::Disabled:
            return palette.color(QPalette::Disabled, QPalette::WindowText);
        case QIcon::Selected:
            return palette.color(QPalette::HighlightedText);
        case QIcon::Normal:
        case QIcon::Active:
            break;
    }
    return palette.color(QPalette::WindowText);
}

// Drawn on request rather than from stored pixmaps, so every size and pixel ratio a host
// asks for is sharp.
class MenuBarIconEngine : public QIconEngine {
  public:
    explicit MenuBarIconEngine(const MenuBarIcon& icon) : icon_(icon) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        paintMenuBarIcon(*painter, rect, icon_, foregroundFor(mode));
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QImage image(size, QImage::Format_ARGB32_Premultiplied);
        image.fill(Qt::transparent);
        {
            QPainter painter(&image);
            paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        }
        return QPixmap::fromImage(std::move(image));
    }

    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        const QSize natural(int(icon_.size.width), int(icon_.size.height));
        return {natural, natural * 2};
    }

    QIconEngine* clone() const override { return new MenuBarIconEngine(icon_); }
    QString key() const override { return QStringLiteral("DovetrelMenuBarIcon"); }
    bool isNull() override { return false; }

  private:
    MenuBarIcon icon_;
};

}  // namespace

void paintMenuBarIcon(QPainter& painter, const QRectF& target, const MenuBarIcon& icon,
                      const QColor& foreground) {
    const double width = icon.size.width;
    const double height = icon.size.height;
    if (!(width > 0 && height > 0) || target.isEmpty()) {
        return;
    }
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    const double scale = std::min(target.width() / width, target.height() / height);
    painter.translate(target.center());
    painter.scale(scale, scale);
    painter.translate(-width / 2, -height / 2);

    QPainterPath tile;
    const double radius = icon.tileCornerRadius;
    tile.addRoundedRect(flipped(icon.tile, height), radius, radius);
    painter.fillPath(tile, withAlpha(foreground, icon.tileFillAlpha));
    painter.strokePath(tile,
                       QPen(withAlpha(foreground, icon.tileStrokeAlpha), icon.tileStrokeWidth));

    // The point size is the arrow's height; it is taller than wide, so in a square of that
    // side its height sets the scale.
    const double arrowSize = icon.arrowPointSize;
    const QPainterPath arrow = pointerArrowPath(
        QRectF(width / 2 - arrowSize / 2, height / 2 - arrowSize / 2, arrowSize, arrowSize));
    painter.fillPath(arrow, foreground);
    painter.strokePath(arrow,
                       QPen(foreground, kArrowWeight, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));

    if (icon.diagonal) {
        const auto& stroke = *icon.diagonal;
        painter.setPen(QPen(withAlpha(foreground, stroke.alpha), stroke.lineWidth, Qt::SolidLine,
                            Qt::RoundCap));
        painter.drawLine(flipped(stroke.from, height), flipped(stroke.to, height));
    }
    painter.restore();
}

QIcon makeTrayIcon(const MenuBarIcon& icon) {
    return QIcon(new MenuBarIconEngine(icon));
}

bool sameMenuBarIcon(const MenuBarIcon& a, const MenuBarIcon& b) {
    const auto sameStroke = [](const MenuBarIcon::Stroke& s, const MenuBarIcon::Stroke& t) {
        return s.from == t.from && s.to == t.to && s.lineWidth == t.lineWidth && s.alpha == t.alpha;
    };
    return a.active == b.active && a.size == b.size && a.tile == b.tile &&
           a.tileCornerRadius == b.tileCornerRadius && a.tileFillAlpha == b.tileFillAlpha &&
           a.tileStrokeAlpha == b.tileStrokeAlpha && a.tileStrokeWidth == b.tileStrokeWidth &&
           a.arrowPointSize == b.arrowPointSize &&
           a.diagonal.has_value() == b.diagonal.has_value() &&
           (!a.diagonal || sameStroke(*a.diagonal, *b.diagonal));
}

}  // namespace dovetrel::app
