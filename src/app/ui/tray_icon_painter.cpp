#include "app/ui/tray_icon_painter.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPainterPathStroker>
#include <QPixmap>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <utility>
#include <vector>

#include "app/ui/pointer_glyph.h"

namespace dovetrel::app {
namespace {

// A thin outline around the fill, in 18 x 18 units, gives the glyph a medium weight and
// softens its corners.
constexpr double kArrowWeight = 0.55;
// The band of contrasting colour around the picture, in the same units.
constexpr double kHaloWidth = 1.6;

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

// One filled shape of the picture, in the description's units with a top-left origin.
struct Layer {
    QPainterPath path;
    double alpha = 1;
};

// The picture as filled shapes, strokes outlined, so that the painter and the symbolic SVG
// (whose hosts recolour fills only) draw the same thing.
std::vector<Layer> layersOf(const MenuBarIcon& icon) {
    const double width = icon.size.width;
    const double height = icon.size.height;
    QPainterPathStroker stroker;
    std::vector<Layer> layers;

    QPainterPath tile;
    const double radius = icon.tileCornerRadius;
    tile.addRoundedRect(flipped(icon.tile, height), radius, radius);
    layers.push_back({tile, icon.tileFillAlpha});
    stroker.setWidth(icon.tileStrokeWidth);
    layers.push_back({stroker.createStroke(tile), icon.tileStrokeAlpha});

    // The point size is the arrow's height; it is taller than wide, so in a square of that
    // side its height sets the scale.
    const double arrowSize = icon.arrowPointSize;
    const QPainterPath arrow = pointerArrowPath(
        QRectF(width / 2 - arrowSize / 2, height / 2 - arrowSize / 2, arrowSize, arrowSize));
    stroker.setWidth(kArrowWeight);
    stroker.setJoinStyle(Qt::RoundJoin);
    stroker.setCapStyle(Qt::RoundCap);
    layers.push_back({arrow.united(stroker.createStroke(arrow)), 1});

    if (icon.diagonal) {
        const auto& stroke = *icon.diagonal;
        QPainterPath line(flipped(stroke.from, height));
        line.lineTo(flipped(stroke.to, height));
        stroker.setWidth(stroke.lineWidth);
        layers.push_back({stroker.createStroke(line), stroke.alpha});
    }
    return layers;
}

QString svgPathData(const QPainterPath& path) {
    QString data;
    const auto number = [](double value) { return QString::number(value, 'f', 3); };
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element element = path.elementAt(i);
        if (element.isMoveTo()) {
            data += QStringLiteral("M%1 %2").arg(number(element.x), number(element.y));
        } else if (element.isLineTo()) {
            data += QStringLiteral("L%1 %2").arg(number(element.x), number(element.y));
        } else if (element.isCurveTo() && i + 2 < path.elementCount()) {
            const QPainterPath::Element second = path.elementAt(++i);
            const QPainterPath::Element end = path.elementAt(++i);
            data += QStringLiteral("C%1 %2 %3 %4 %5 %6")
                        .arg(number(element.x), number(element.y), number(second.x),
                             number(second.y), number(end.x), number(end.y));
        }
    }
    return data;
}

// Drawn on request rather than from stored pixmaps, so every size and pixel ratio a host
// asks for is sharp, in the colour chosen at that moment.
class MenuBarIconEngine : public QIconEngine {
  public:
    MenuBarIconEngine(const MenuBarIcon& icon, TrayIconForeground foreground)
        : icon_(icon), foreground_(std::move(foreground)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
        const TrayIconInk ink = foreground_(*painter, rect);
        paintMenuBarIcon(*painter, rect, icon_, ink.foreground, ink.halo);
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

    QIconEngine* clone() const override { return new MenuBarIconEngine(icon_, foreground_); }
    QString key() const override { return QStringLiteral("DovetrelMenuBarIcon"); }
    bool isNull() override { return false; }

  private:
    MenuBarIcon icon_;
    TrayIconForeground foreground_;
};

}  // namespace

void paintMenuBarIcon(QPainter& painter, const QRectF& target, const MenuBarIcon& icon,
                      const QColor& foreground, const QColor& halo) {
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
    const std::vector<Layer> layers = layersOf(icon);
    if (halo.alpha() > 0) {
        QPainterPath shape;
        for (const Layer& layer : layers) {
            shape = shape.united(layer.path);
        }
        QPainterPathStroker grow;
        grow.setWidth(kHaloWidth);
        grow.setJoinStyle(Qt::RoundJoin);
        painter.fillPath(shape.united(grow.createStroke(shape)), halo);
    }
    for (const Layer& layer : layers) {
        painter.fillPath(layer.path, withAlpha(foreground, layer.alpha));
    }
    painter.restore();
}

QByteArray menuBarIconSvg(const MenuBarIcon& icon, const QColor& color) {
    // Filled in the colour scheme's text colour: GTK hosts fill every path of a symbolic icon
    // with the panel's foreground, and Qt hosts replace the style sheet's colour.
    QString svg = QStringLiteral(
                      "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                      "viewBox=\"0 0 %1 %2\">\n"
                      "  <style type=\"text/css\" id=\"current-color-scheme\">"
                      ".ColorScheme-Text { color:%3; }</style>\n")
                      .arg(icon.size.width)
                      .arg(icon.size.height)
                      .arg(color.name());
    for (const Layer& layer : layersOf(icon)) {
        svg += QStringLiteral(
                   "  <path class=\"ColorScheme-Text\" fill=\"currentColor\" fill-opacity=\"%1\" "
                   "d=\"%2\"/>\n")
                   .arg(QString::number(layer.alpha), svgPathData(layer.path));
    }
    svg += QStringLiteral("</svg>\n");
    return svg.toUtf8();
}

QIcon makeTrayIcon(const MenuBarIcon& icon, TrayIconForeground foreground) {
    return QIcon(new MenuBarIconEngine(icon, std::move(foreground)));
}

std::optional<QColor> onScreenBackground(QPainter& painter, const QRect& rect) {
    const auto* widget = dynamic_cast<const QWidget*>(painter.device());
    QScreen* screen = widget != nullptr ? widget->screen() : nullptr;
    if (screen == nullptr || rect.width() < 2 || rect.height() < 2) {
        return std::nullopt;
    }
    // A window with alpha holds none of the tray's background (read back, its clear pixels
    // are black): the tray draws it over the panel, so the screen there shows both.
    const bool alpha = widget->testAttribute(Qt::WA_TranslucentBackground);
    const QPoint origin = alpha ? widget->mapToGlobal(rect.topLeft()) : rect.topLeft();
    const QImage shown = screen
                             ->grabWindow(alpha ? 0 : widget->winId(), origin.x(), origin.y(),
                                          rect.width(), rect.height())
                             .toImage()
                             .convertToFormat(QImage::Format_ARGB32);
    // The corners, which the icon's rounded tile leaves uncovered even when the window shows
    // the icon painted before.
    int red = 0;
    int green = 0;
    int blue = 0;
    int count = 0;
    for (const QPoint corner :
         {QPoint(0, 0), QPoint(shown.width() - 1, 0), QPoint(0, shown.height() - 1),
          QPoint(shown.width() - 1, shown.height() - 1)}) {
        const QRgb pixel = shown.valid(corner) ? shown.pixel(corner) : 0;
        if (qAlpha(pixel) == 255) {
            red += qRed(pixel);
            green += qGreen(pixel);
            blue += qBlue(pixel);
            ++count;
        }
    }
    if (count == 0) {
        return std::nullopt;
    }
    return QColor(red / count, green / count, blue / count);
}

QColor contrastingForeground(const QColor& background) {
    // Relative luminance by the sRGB weights, on 0..255.
    const double luminance =
        0.2126 * background.red() + 0.7152 * background.green() + 0.0722 * background.blue();
    return luminance < 128 ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x1e, 0x1e, 0x1e);
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
