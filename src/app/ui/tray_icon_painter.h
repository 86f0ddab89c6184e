// The tray icon drawn in code from the core's description of it.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QIcon>
#include <QRectF>
#include <functional>
#include <optional>

#include "core/menu_bar_icon.h"

class QPainter;

namespace dovetrel::app {

// Paints `icon` scaled uniformly to fit `target` and centred in it, antialiased, in
// `foreground` with the described alphas, over a band of `halo` around its shapes when that
// is not transparent.
void paintMenuBarIcon(QPainter& painter, const QRectF& target, const MenuBarIcon& icon,
                      const QColor& foreground, const QColor& halo = Qt::transparent);

// The same picture as a symbolic SVG for icon themes: filled shapes only, in `color` as the
// colour scheme's text colour, which hosts that recolour symbolic icons replace with the
// panel's foreground.
QByteArray menuBarIconSvg(const MenuBarIcon& icon, const QColor& color);

// The colours to draw in: the picture's, and the band around it (transparent for none).
struct TrayIconInk {
    QColor foreground;
    QColor halo = Qt::transparent;
};

// The colours chosen when the icon is painted into `rect` with `painter`.
using TrayIconForeground = std::function<TrayIconInk(QPainter& painter, const QRect& rect)>;

// An icon that draws `icon` afresh at whatever size and device pixel ratio a host asks for,
// in the colour `foreground` chooses at that moment.
QIcon makeTrayIcon(const MenuBarIcon& icon, TrayIconForeground foreground);

// The background that the screen shows at the corners of `rect` in the window being painted
// (which the icon leaves uncovered); nullopt when the painter draws no window, or nothing
// opaque shows there.
std::optional<QColor> onScreenBackground(QPainter& painter, const QRect& rect);

// A foreground that stands out on `background`: near white on dark, near black on light.
QColor contrastingForeground(const QColor& background);

// Whether the two descriptions draw the same picture.
bool sameMenuBarIcon(const MenuBarIcon& a, const MenuBarIcon& b);

}  // namespace dovetrel::app
