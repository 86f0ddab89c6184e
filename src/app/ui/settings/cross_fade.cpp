#include "app/ui/settings/cross_fade.h"

#include <QAbstractAnimation>
#include <QApplication>
#include <QGraphicsOpacityEffect>
#include <QPainter>
#include <QParallelAnimationGroup>
#include <QPointer>
#include <QPropertyAnimation>
#include <QStyle>
#include <QVariantAnimation>
#include <QWidget>

namespace dovetrel::app {
namespace {

// A picture of what a part of the window showed before a change, painted over it at a
// falling opacity while the new content fades in beneath: an ease-in-out cross-fade.
class FadingPicture final : public QWidget {
  public:
    FadingPicture(QWidget* parent, const QPixmap& picture, QPoint at)
        : QWidget(parent), picture_(picture) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setGeometry(QRect(at, picture.deviceIndependentSize().toSize()));
        raise();
        show();
    }

    void setOpacity(double opacity) {
        opacity_ = opacity;
        update();
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.setOpacity(opacity_);
        painter.drawPixmap(0, 0, picture_);
    }

  private:
    QPixmap picture_;
    double opacity_ = 1.0;
};

}  // namespace

bool desktopWantsAnimations(const QWidget* widget) {
    if (widget->style()->styleHint(QStyle::SH_Widget_Animation_Duration, nullptr, widget) <= 0) {
        return false;
    }
    return !QApplication::isEffectEnabled(Qt::UI_General) ||
           QApplication::isEffectEnabled(Qt::UI_AnimateMenu);
}

QAbstractAnimation* crossFade(QWidget* coverParent, const QPixmap& before, QPoint at,
                              QWidget* incoming, int milliseconds) {
    auto* cover = new FadingPicture(coverParent, before, at);
    auto* effect = new QGraphicsOpacityEffect(incoming);
    effect->setOpacity(0.0);
    incoming->setGraphicsEffect(effect);

    auto* group = new QParallelAnimationGroup(incoming);
    auto* fadeIn = new QPropertyAnimation(effect, "opacity", group);
    fadeIn->setStartValue(0.0);
    fadeIn->setEndValue(1.0);
    auto* fadeOut = new QVariantAnimation(group);
    fadeOut->setStartValue(1.0);
    fadeOut->setEndValue(0.0);
    QObject::connect(fadeOut, &QVariantAnimation::valueChanged, cover,
                     [cover](const QVariant& value) { cover->setOpacity(value.toDouble()); });
    for (auto* animation : {static_cast<QVariantAnimation*>(fadeIn), fadeOut}) {
        animation->setDuration(milliseconds);
        animation->setEasingCurve(QEasingCurve::InOutQuad);
        group->addAnimation(animation);
    }
    // Painting through the effect costs an offscreen pass: drop it once the fade is done.
    QObject::connect(group, &QAbstractAnimation::finished, incoming,
                     [incoming = QPointer<QWidget>(incoming), cover = QPointer<QWidget>(cover)] {
                         if (incoming) {
                             incoming->setGraphicsEffect(nullptr);
                         }
                         if (cover) {
                             cover->deleteLater();
                         }
                     });
    group->start(QAbstractAnimation::DeleteWhenStopped);
    return group;
}

}  // namespace dovetrel::app
