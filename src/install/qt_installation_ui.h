#pragma once

#include "install/installation_ui.h"

namespace perchwell {

// Modal message boxes and a detached process: the installation offer on a desktop.
class QtInstallationUi : public InstallationUi {
public:
    bool confirmInstall(const std::string& message, const std::string& informativeText) override;
    void showFailure(const std::string& informativeText) override;
    Result<void> launch(const std::string& executable, const std::vector<std::string>& arguments) override;
    void terminateSoon() override;
};

} // namespace perchwell
