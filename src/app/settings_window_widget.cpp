#include "app/settings_window_widget.h"

namespace dovetrel::app {

struct SettingsWindowWidget::State {};

SettingsWindowWidget::SettingsWindowWidget(Platform&, std::function<void(const SettingsWindow*)>)
    : state_(std::make_unique<State>()) {}

SettingsWindowWidget::~SettingsWindowWidget() = default;

void SettingsWindowWidget::center() {}

void SettingsWindowWidget::setLevel(WindowLevel) {}

void SettingsWindowWidget::makeKeyAndOrderFront() {}

}  // namespace dovetrel::app
