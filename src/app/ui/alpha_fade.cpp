#include "app/ui/alpha_fade.h"

#include <cmath>
#include <utility>

namespace dovetrel::app {

void AlphaFade::start(double from, double to, double seconds, Easing easing,
                      std::function<void(double)> apply, std::function<void()> completion) {
    stop();
    auto* animation = new QVariantAnimation(&owner_);
    animation->setStartValue(from);
    animation->setEndValue(to);
    animation->setDuration(int(std::lround(seconds * 1000)));
    animation->setEasingCurve(easing == Easing::easeOut ? QEasingCurve::OutQuad
                                                        : QEasingCurve::InQuad);
    QObject::connect(
        animation, &QVariantAnimation::valueChanged, &owner_,
        [apply = std::move(apply)](const QVariant& value) { apply(value.toDouble()); });
    QObject::connect(animation, &QVariantAnimation::finished, &owner_,
                     [completion = std::move(completion)] {
                         if (completion) {
                             completion();
                         }
                     });
    animation_ = animation;
    animation->start(QAbstractAnimation::DeleteWhenStopped);
}

void AlphaFade::stop() {
    if (animation_) {
        // A replaced animation's completion must never run.
        animation_->disconnect();
        animation_->stop();
    }
}

}  // namespace dovetrel::app
