#include "app/x11_click_guard.h"

namespace dovetrel::app {

struct X11ClickGuard::State {};

X11ClickGuard::X11ClickGuard() : state_(std::make_unique<State>()) {}

X11ClickGuard::~X11ClickGuard() = default;

std::shared_ptr<X11ClickGuard> X11ClickGuard::create(EventTapHandlers /*handlers*/) {
    return nullptr;
}

void X11ClickGuard::setEnabled(bool /*enabled*/) {}

bool X11ClickGuard::isEnabled() const {
    return false;
}

void X11ClickGuard::invalidate() {}

void X11ClickGuard::refreshSnapshot() {}

bool X11ClickGuard::isHealthy() const {
    return false;
}

}  // namespace dovetrel::app
