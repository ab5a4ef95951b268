#pragma once

#include <string>
#include <vector>

namespace perchwell {

class ServiceManagerRunner;

// The hand-over to a service-manager-managed instance: a systemd user unit that an
// installer outside the program may have written. The program only looks for the
// unit, starts it and stops it; it never writes it.
class LaunchAgentManager {
public:
    static constexpr const char* label = "com.brisklane.perchwell";
    static constexpr const char* unitName = "perchwell.service";

    // ~/.config/systemd/user/perchwell.service (XDG_CONFIG_HOME honoured).
    static std::string unitPath();
    // What the service manager calls the job: the unit's name.
    static std::string serviceTarget();

    // True when this launch has started the managed instance and must end.
    static bool ensureLoaded(ServiceManagerRunner& runner);
    static bool ensureLoaded();
    // Stops the managed instance at quit, when the unit exists and is running.
    static void bootoutForQuit(ServiceManagerRunner& runner);
    static void bootoutForQuit();

    // The tool's exit status, or -1 when it could not be started.
    static int runLaunchctl(ServiceManagerRunner& runner, const std::vector<std::string>& arguments);
};

} // namespace perchwell
