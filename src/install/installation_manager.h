#pragma once

#include "common/result.h"

#include <string>
#include <vector>

namespace perchwell {

class InstallationUi;

// Where the running copy lives, and the offer to install it under ~/.local when it runs
// from elsewhere (a build tree, an unpacked archive). "Properly installed" means an
// install prefix: bin/perchwell with the desktop library in lib/perchwell/ beside
// bin/, as `cmake --install` and the package lay it out (/usr, /usr/local, ~/.local...).
class InstallationManager {
public:
    // Where the running copy comes from and where it goes.
    struct Locations {
        std::string executableDir; // holds perchwell, pv-hook-client, pv-token
        std::string home;
        // Arguments for the relaunched copy (the executable path excluded).
        std::vector<std::string> relaunchArguments;
    };
    // The running process's.
    static Locations current(const std::vector<std::string>& arguments);

    static bool isProperlyInstalled(const std::string& executableDir);

    // ~/.local, and where each part goes below it.
    static std::string userPrefix(const std::string& home);
    static std::string installedExecutable(const std::string& home);

    // True when an installed copy has been started and this one is about to quit.
    static bool checkAndPromptIfNeeded(InstallationUi& ui, const Locations& locations);

    // The launch gate's alert texts.
    static std::string promptMessage();
    static std::string promptText(const std::string& executableDir);

    // The desktop entry with Exec= and TryExec= naming `executable`.
    static std::string desktopEntryFor(const std::string& templateText, const std::string& executable);

private:
    static bool installToUserLocalAndRelaunch(InstallationUi& ui, const Locations& locations);
};

} // namespace perchwell
