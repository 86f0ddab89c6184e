#include "core/release_notes.h"

namespace dovetrel {

const std::vector<Release>& Release::all() {
    static const std::vector<Release> releases = {
        {"0.1.3",
         "0.1.3",
         "March 2026",
         {{"shield.lefthalf.filled",
           "Permission loss safeguard - instantly kills the event tap if Accessibility is "
           "revoked, preventing system-wide click lockout"},
          {"arrow.counterclockwise",
           "Auto-recovery - automatically restores functionality when Accessibility permission "
           "is re-granted"},
          {"arrow.triangle.2.circlepath",
           "Seamless updates - automatically resets stale Accessibility trust after app updates"},
          {"location",
           "Fixed click detection across all apps - coordinate conversion no longer breaks "
           "depending on which app has focus"}}},
        {"0.1.2",
         "0.1.2",
         "March 2026",
         {{"arrow.down.circle",
           "Update notifications - get notified when a new version is available"},
          {"checkmark.shield",
           "Consistent code signing - Accessibility permissions now persist across updates"},
          {"lock.shield", "Accessibility polling - no restart needed after granting permission"},
          {"app.badge", "Fixed app icon - removed square background"}}},
        {"0.1.0",
         "0.1.0",
         "March 2026",
         {{"cursorarrow.click.2", "Click guard - swallows accidental clicks when cursor is idle"},
          {"square.dashed", "Translucent quorl overlay - visible on any background, light or dark"},
          {"moon.zzz", "Snooze - temporarily disable for 5m, 10m, 15m, 30m, or 1hr"},
          {"eye", "Smart cursor detection - hides when any app hides the cursor"},
          {"hand.raised",
           "Respects other apps - never interferes with screenshots, modifier clicks, or "
           "gestures"},
          {"gearshape", "Configurable timeout (1-10s) and zone size (40-200px)"},
          {"arrow.right.to.line", "Launch at login support"}}},
    };
    return releases;
}

bool isLatestRelease(const Release& release) {
    const auto& releases = Release::all();
    return !releases.empty() && release.id == releases.front().id;
}

const Release* findRelease(const std::string& id) {
    for (const auto& release : Release::all()) {
        if (release.id == id) {
            return &release;
        }
    }
    return nullptr;
}

}  // namespace dovetrel
