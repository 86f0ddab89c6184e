// The tray icon drawn in code from the core's description of it.
#pragma once

#include <QColor>
#include <QIcon>
#include <QRectF>

#include "core/menu_bar_icon.h"

class QPainter;

namespace dovetrel::app {

// Paints `icon` scaled uniformly to fit `target` and centred in it, antialiased, in
// `foreground` with the described alphas.
void paintMenuBarIcon(QPainter& painter, const QRectF& target, const MenuBarIcon& icon,
                      const QColor& foreground);

// An icon that draws `icon` afresh at whatever size and device pixel ratio a host asks for,
// in the application palette's window-text colour (highlighted-text when selected, the
// disabled window-text when disabled), so that it follows the panel's foreground.
QIcon makeTrayIcon(const MenuBarIcon& icon);

// Whether the two descriptions draw the same picture.
bool sameMenuBarIcon(const MenuBarIcon& a, const MenuBarIcon& b);

}  // namespace dovetrel::app
