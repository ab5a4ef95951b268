#include "app/launch_agent_manager.h"

#include "common/system_log.h"
#include "platform/linux/systemctl_runner.h"
#include "platform/paths.h"

#include <dirent.h>
#include <memory>
#include <string_view>
#include <sys/stat.h>

namespace perchwell {
namespace {

// The unit the user wrote, or a packaged one (/usr/lib/systemd/user) the user enabled:
// `systemctl --user enable` links it into a .wants directory. A packaged unit that is
// not enabled hands nothing over, so a desktop launch stays a desktop instance.
bool unitExists() {
    struct stat st {};
    if (::stat(LaunchAgentManager::unitPath().c_str(), &st) == 0) {
        return true;
    }
    const std::string dir = Paths::userConfigRoot() + "/systemd/user";
    std::unique_ptr<DIR, int (*)(DIR*)> listing(::opendir(dir.c_str()), ::closedir);
    if (!listing) {
        return false;
    }
    while (const dirent* entry = ::readdir(listing.get())) {
        const std::string_view name = entry->d_name;
        if (name.size() > 6 && name.substr(name.size() - 6) == ".wants" &&
            ::stat((dir + "/" + entry->d_name + "/" + LaunchAgentManager::unitName).c_str(), &st) == 0) {
            return true;
        }
    }
    return false;
}

// "print": is the job loaded and running?
int printStatus(ServiceManagerRunner& runner) {
    return LaunchAgentManager::runLaunchctl(runner,
                                            {"is-active", "--quiet", LaunchAgentManager::serviceTarget()});
}

} // namespace

std::string LaunchAgentManager::unitPath() {
    return Paths::userConfigRoot() + "/systemd/user/" + unitName;
}

std::string LaunchAgentManager::serviceTarget() {
    return unitName;
}

int LaunchAgentManager::runLaunchctl(ServiceManagerRunner& runner,
                                     const std::vector<std::string>& arguments) {
    return runner.run(arguments);
}

bool LaunchAgentManager::ensureLoaded(ServiceManagerRunner& runner) {
    if (!unitExists()) {
        return false;
    }
    if (printStatus(runner) == 0) {
        return false;
    }
    const int status = runLaunchctl(runner, {"start", serviceTarget()});
    systemlog::write("[Perchwell] launchagent: bootstrap status=" + std::to_string(status));
    return status == 0;
}

bool LaunchAgentManager::ensureLoaded() {
    SystemctlRunner runner;
    return ensureLoaded(runner);
}

void LaunchAgentManager::bootoutForQuit(ServiceManagerRunner& runner) {
    if (!unitExists()) {
        return;
    }
    if (printStatus(runner) != 0) {
        return;
    }
    // --no-block: when this process is the managed instance, a blocking stop would wait
    // for our own exit while we wait for the tool.
    const int status = runLaunchctl(runner, {"stop", "--no-block", serviceTarget()});
    systemlog::write("[Perchwell] launchagent: bootout status=" + std::to_string(status));
}

void LaunchAgentManager::bootoutForQuit() {
    SystemctlRunner runner;
    bootoutForQuit(runner);
}

} // namespace perchwell
