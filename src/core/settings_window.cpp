// Opening, bringing forward and closing the settings window.
#include "core/app_delegate.h"

namespace dovetrel {

inline constexpr double kFloatingSeconds = 0.3;

void AppDelegate::openSettings() {
    if (!settingsWindow) {
        std::weak_ptr<AppDelegate> weak = weak_from_this();
        settingsWindow = platform_.createSettingsWindow([weak](const SettingsWindow* closing) {
            if (const auto self = weak.lock()) {
                self->windowWillClose(closing);
            }
        });
        if (!settingsWindow) {
            return;
        }
        settingsWindow->center();
    }
    platform_.setActivationPolicy(ActivationPolicy::accessory);
    settingsWindow->setLevel(WindowLevel::floating);
    settingsWindow->makeKeyAndOrderFront();
    platform_.activateIgnoringOtherApps();
    // Holds the window itself, so the level is put back even if it was closed meanwhile.
    platform_.dispatchAfter(kFloatingSeconds,
                            [window = settingsWindow] { window->setLevel(WindowLevel::normal); });
}

void AppDelegate::windowWillClose(const SettingsWindow* closing) {
    if (closing == nullptr || closing != settingsWindow.get()) {
        return;
    }
    settingsWindow = nullptr;
    platform_.setActivationPolicy(ActivationPolicy::prohibited);
}

}  // namespace dovetrel
