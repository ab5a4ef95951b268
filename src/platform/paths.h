#pragma once

#include "common/result.h"

#include <string>

namespace perchwell {

// Every location the system reads or writes, derived from HOME and the XDG variables
// so that a test can move all of them by changing the environment.
class Paths {
public:
    static std::string home();
    // $XDG_DATA_HOME/perchwell, default ~/.local/share/perchwell.
    static std::string dataDirectory();
    // $XDG_CONFIG_HOME/perchwell, default ~/.config/perchwell.
    static std::string configDirectory();
    // $XDG_CONFIG_HOME, default ~/.config (systemd units and autostart entries live below it).
    static std::string userConfigRoot();
    // $CLAUDE_CONFIG_DIR when set, else ~/.claude.
    static std::string claudeDirectory();
    static std::string defaultsFile();
    // The directory of the running executable (/proc/self/exe); empty when unknown.
    static std::string executableDirectory();

    // The data directory holds commands, paths and prompts: owner-only.
    static constexpr unsigned dataDirectoryMode = 0700;
    static Result<void> ensureDataDirectory();
    static std::string dataFile(const std::string& name);
};

} // namespace perchwell
