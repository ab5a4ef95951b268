#include "platform/paths.h"

#include "common/file_util.h"

#include <climits>
#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace perchwell {
namespace {

std::string envAbsolutePath(const char* name) {
    const char* value = std::getenv(name);
    // The XDG rules ignore relative paths.
    if (value == nullptr || value[0] != '/') {
        return {};
    }
    return value;
}

} // namespace

std::string Paths::home() {
    if (const char* h = std::getenv("HOME"); h != nullptr && h[0] != '\0') {
        return h;
    }
    if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
        return pw->pw_dir;
    }
    return "/";
}

std::string Paths::dataDirectory() {
    std::string base = envAbsolutePath("XDG_DATA_HOME");
    if (base.empty()) {
        base = home() + "/.local/share";
    }
    return base + "/perchwell";
}

std::string Paths::userConfigRoot() {
    std::string base = envAbsolutePath("XDG_CONFIG_HOME");
    return base.empty() ? home() + "/.config" : base;
}

std::string Paths::configDirectory() {
    return userConfigRoot() + "/perchwell";
}

std::string Paths::claudeDirectory() {
    if (const char* dir = std::getenv("CLAUDE_CONFIG_DIR"); dir != nullptr && dir[0] != '\0') {
        return dir;
    }
    return home() + "/.claude";
}

std::string Paths::defaultsFile() {
    return configDirectory() + "/defaults.json";
}

Result<void> Paths::ensureDataDirectory() {
    return files::ensureDirectory(dataDirectory(), dataDirectoryMode);
}

std::string Paths::dataFile(const std::string& name) {
    return dataDirectory() + "/" + name;
}

std::string Paths::executableDirectory() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    if (n <= 0) {
        return {};
    }
    const std::string path(buffer, static_cast<size_t>(n));
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

} // namespace perchwell
