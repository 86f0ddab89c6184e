// The settings window behind the core's SettingsWindow seam: the settings panel as a
// top-level window, centred with its frame on the screen the user is looking at.
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
