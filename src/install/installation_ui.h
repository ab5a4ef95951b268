#pragma once

#include "common/result.h"

#include <string>
#include <vector>

namespace perchwell {

// What the installation offer shows and starts: modal alerts and a detached process on
// a desktop (QtInstallationUi), a double in tests.
class InstallationUi {
public:
    virtual ~InstallationUi() = default;

    // A warning alert with "Install and Relaunch" (default) and "Not Now"; true for the first.
    virtual bool confirmInstall(const std::string& message, const std::string& informativeText) = 0;
    // The critical "Install Failed" alert with one button.
    virtual void showFailure(const std::string& informativeText) = 0;
    // Starts `executable` with `arguments`, detached from this process.
    virtual Result<void> launch(const std::string& executable, const std::vector<std::string>& arguments) = 0;
    // Ends this process half a second from now, once the event loop runs.
    virtual void terminateSoon() = 0;
};

} // namespace perchwell
