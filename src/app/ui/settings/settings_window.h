// The settings window on Qt Widgets: header, tab switcher, the Settings tab and What's New,
// drawn from the core's SettingsModel.
#pragma once

#include <functional>
#include <memory>

#include "core/platform.h"

namespace dovetrel::app {

class SettingsWindowWidget : public SettingsWindow {
  public:
    // Builds the window, hidden, sized to its content. `windowWillClose` runs when the user
    // closes it.
    SettingsWindowWidget(Platform& platform,
                         std::function<void(const SettingsWindow*)> windowWillClose);
    ~SettingsWindowWidget() override;

    void center() override;
    void setLevel(WindowLevel level) override;
    void makeKeyAndOrderFront() override;

  private:
    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace dovetrel::app
