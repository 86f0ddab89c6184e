// The cross-fade the settings window plays when its tab or the release shown changes, and
// whether the desktop wants it played at all.
#pragma once

#include <QPixmap>
#include <QPoint>

class QAbstractAnimation;
class QWidget;

namespace dovetrel::app {

// Whether the desktop wants widgets to animate. A style that honours the user's choice answers
// 0 for the animation duration when animations are off; a platform theme that reports UI
// effects at all says it through the menu animation. Qt's generic theme reports no effects
// whatever the desktop wants, so its silence is not taken as a no.
bool desktopWantsAnimations(const QWidget* widget);

// Cross-fades from `before` (painted at `at` in `coverParent`) to `incoming` over
// `milliseconds`. Returns the running animation; it cleans up after itself when it ends.
QAbstractAnimation* crossFade(QWidget* coverParent, const QPixmap& before, QPoint at,
                              QWidget* incoming, int milliseconds);

}  // namespace dovetrel::app
