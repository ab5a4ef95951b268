#pragma once

#include <QUrl>
#include <functional>
#include <string>

namespace perchwell {

// What the settings window reaches outside the store, the permissions and the local
// API; tests replace the parts they watch.
struct SettingsActions {
    // Where the hook command's programs live (install and repair name it).
    std::string executableDir;
    // Opens a folder or address with the desktop; false when nothing could open it.
    std::function<bool(const QUrl&)> openUrl;
    // The installation flow (offer, copy under ~/.local, relaunch); null hides its button.
    std::function<void()> installAndRelaunch;

    // The running program's directory and the desktop's opener.
    static SettingsActions system();
};

} // namespace perchwell
