#include "install/installation_manager.h"

#include "common/file_util.h"
#include "common/system_log.h"
#include "hooks/hook_installer.h"
#include "install/installation_ui.h"
#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

namespace perchwell {
namespace {

constexpr const char* desktopLibrary = "libperchwell_desktop.so";
constexpr const char* desktopEntryPath = "share/applications/perchwell.desktop";
constexpr const char* iconPath = "share/icons/hicolor/scalable/apps/perchwell.svg";

bool isFile(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool pathExists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

std::string canonical(const std::string& path) {
    char buffer[PATH_MAX];
    return ::realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : path;
}

// One file of the installed copy: where it comes from, where it goes, its mode. An
// empty `from` is a part the running copy lacks.
struct Part {
    std::string from;
    std::string to;
    mode_t mode;
    bool required;
};

std::vector<Part> partsOf(const std::string& executableDir, const std::string& prefix) {
    const std::string root = executableDir + "/..";
    // A build tree keeps the library in lib/, an installed tree in lib/perchwell/.
    std::string library = root + "/lib/perchwell/" + desktopLibrary;
    if (!isFile(library)) {
        library = root + "/lib/" + desktopLibrary;
    }
    std::vector<Part> parts;
    for (const char* program : {"perchwell", "pv-hook-client", "pv-token"}) {
        parts.push_back({executableDir + "/" + program, prefix + "/bin/" + program, 0755,
                         std::string_view(program) != "pv-token"});
    }
    parts.push_back({library, prefix + "/lib/perchwell/" + desktopLibrary, 0644, true});
    parts.push_back({root + "/" + desktopEntryPath, prefix + "/" + desktopEntryPath, 0644, false});
    parts.push_back({root + "/" + iconPath, prefix + "/" + iconPath, 0644, false});
    return parts;
}

std::string desktopQuoted(const std::string& path) {
    // The desktop entry's Exec= rules: double quotes, with \ " ` $ escaped.
    return HookInstaller::shellQuote(path);
}

} // namespace

InstallationManager::Locations InstallationManager::current(const std::vector<std::string>& arguments) {
    Locations locations;
    locations.executableDir = Paths::executableDirectory();
    locations.home = Paths::home();
    if (arguments.size() > 1) {
        locations.relaunchArguments.assign(arguments.begin() + 1, arguments.end());
    }
    return locations;
}

bool InstallationManager::isProperlyInstalled(const std::string& executableDir) {
    const std::string dir = canonical(executableDir);
    const auto slash = dir.rfind('/');
    return slash != std::string::npos && dir.substr(slash + 1) == "bin" &&
           isFile(dir + "/../lib/perchwell/" + desktopLibrary);
}

std::string InstallationManager::userPrefix(const std::string& home) {
    return home + "/.local";
}

std::string InstallationManager::installedExecutable(const std::string& home) {
    return userPrefix(home) + "/bin/perchwell";
}

std::string InstallationManager::promptMessage() {
    return "Install Perchwell";
}

std::string InstallationManager::promptText(const std::string& executableDir) {
    return "Perchwell is currently running from:\n" + executableDir +
           "\n\nThe menu entry, the icon and the hook command Claude Code runs are more reliable when "
           "Perchwell "
           "lives in an install prefix such as /usr or ~/.local.\n\nClick \"Install and Relaunch\" to copy "
           "Perchwell to ~/.local and restart from there. This is a one-time step and does not require an "
           "admin "
           "password.";
}

std::string InstallationManager::desktopEntryFor(const std::string& templateText,
                                                 const std::string& executable) {
    std::string out;
    size_t start = 0;
    while (start < templateText.size()) {
        size_t end = templateText.find('\n', start);
        end = end == std::string::npos ? templateText.size() : end + 1;
        const std::string_view line(templateText.data() + start, end - start);
        if (line.rfind("Exec=", 0) == 0) {
            // Keeps the arguments after the program, if any.
            const std::string_view rest = line.substr(5);
            const auto space = rest.find_first_of(" \n");
            out += "Exec=" + desktopQuoted(executable) +
                   std::string(space == std::string_view::npos ? std::string_view("\n") : rest.substr(space));
        } else if (line.rfind("TryExec=", 0) == 0) {
            out += "TryExec=" + executable + "\n";
        } else {
            out += line;
        }
        start = end;
    }
    return out;
}

bool InstallationManager::checkAndPromptIfNeeded(InstallationUi& ui, const Locations& locations) {
    if (isProperlyInstalled(locations.executableDir)) {
        return false;
    }
    if (!ui.confirmInstall(promptMessage(), promptText(locations.executableDir))) {
        return false;
    }
    return installToUserLocalAndRelaunch(ui, locations);
}

bool InstallationManager::installToUserLocalAndRelaunch(InstallationUi& ui, const Locations& locations) {
    const std::string prefix = userPrefix(locations.home);
    const std::vector<Part> parts = partsOf(locations.executableDir, prefix);

    for (const Part& part : parts) {
        const std::string dir = files::parentDirectory(part.to);
        if (auto made = files::ensureDirectory(dir); !made) {
            ui.showFailure("Could not create " + dir + ": " + made.error().message);
            return false;
        }
    }
    for (const Part& part : parts) {
        if (pathExists(part.to) && ::unlink(part.to.c_str()) != 0) {
            ui.showFailure("Could not remove the old copy: " + files::errnoText(errno) + "\n\nDelete " +
                           part.to + " manually, then try again.");
            return false;
        }
    }
    const std::string executable = installedExecutable(locations.home);
    for (const Part& part : parts) {
        auto bytes = isFile(part.from) ? files::readFile(part.from) : std::nullopt;
        if (!bytes) {
            if (!part.required) {
                continue;
            }
            ui.showFailure("Could not copy Perchwell to " + prefix + ": cannot read " + part.from);
            return false;
        }
        if (part.to.size() > 8 && part.to.compare(part.to.size() - 8, 8, ".desktop") == 0) {
            bytes = desktopEntryFor(*bytes, executable);
        }
        if (auto copied = files::writeFileAtomically(part.to, *bytes, part.mode); !copied) {
            ui.showFailure("Could not copy Perchwell to " + prefix + ": " + copied.error().message);
            return false;
        }
    }

    // Claude Code would otherwise keep running the old copy's hook command.
    if (const auto found = HookInstaller::status(); found && found->installed()) {
        if (auto moved = HookInstaller::install(prefix + "/bin"); !moved) {
            systemlog::write("[Perchwell] hook entries still name the old copy: " + moved.error().message);
        }
    }

    if (auto started = ui.launch(executable, locations.relaunchArguments); !started) {
        systemlog::write("[Perchwell] openApplication failed: " + started.error().message);
        ui.showFailure("Could not start " + executable + ": " + started.error().message);
        return false;
    }
    ui.terminateSoon();
    return true;
}

} // namespace perchwell
