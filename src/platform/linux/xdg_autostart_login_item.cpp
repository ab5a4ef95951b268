#include "platform/linux/xdg_autostart_login_item.h"

#include "common/file_util.h"
#include "platform/paths.h"

#include <cerrno>
#include <climits>
#include <sstream>
#include <unistd.h>

namespace perchwell {
namespace {

std::string runningExecutable() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof(buffer) - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string("perchwell");
}

// The Exec key's quoting rules: wrap in double quotes and escape the four reserved characters.
std::string quoteExecArgument(const std::string& argument) {
    std::string quoted = "\"";
    for (const char c : argument) {
        if (c == '"' || c == '`' || c == '$' || c == '\\') {
            quoted += '\\';
        }
        quoted += c;
    }
    return quoted + "\"";
}

bool isTrue(std::string value) {
    while (!value.empty() && (value.back() == ' ' || value.back() == '\r' || value.back() == '\t')) {
        value.pop_back();
    }
    return value == "true";
}

} // namespace

XdgAutostartLoginItem::XdgAutostartLoginItem(std::string entryPath, std::string executable)
    : entryPath_(std::move(entryPath)),
      executable_(executable.empty() ? runningExecutable() : std::move(executable)) {}

std::string XdgAutostartLoginItem::defaultEntryPath() {
    return Paths::userConfigRoot() + "/autostart/perchwell.desktop";
}

std::string XdgAutostartLoginItem::entryText(const std::string& executable) {
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Perchwell\n"
           "Comment=Desktop companion for Claude Code\n"
           "Exec=" +
           quoteExecArgument(executable) +
           "\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

LoginItemStatus XdgAutostartLoginItem::status() const {
    const auto text = files::readFile(entryPath_);
    if (!text) {
        return LoginItemStatus::notRegistered;
    }
    std::istringstream lines(*text);
    std::string line;
    while (std::getline(lines, line)) {
        if ((line.rfind("Hidden=", 0) == 0 && isTrue(line.substr(7))) ||
            (line.rfind("X-GNOME-Autostart-enabled=", 0) == 0 && !isTrue(line.substr(26)))) {
            return LoginItemStatus::notRegistered;
        }
    }
    return LoginItemStatus::enabled;
}

Result<void> XdgAutostartLoginItem::registerItem() {
    if (auto made = files::ensureDirectory(files::parentDirectory(entryPath_)); !made) {
        return Error{"Could not create the autostart folder: " + made.error().message};
    }
    if (auto written = files::writeFileAtomically(entryPath_, entryText(executable_), 0644); !written) {
        return Error{"Could not write the autostart entry " + entryPath_ + ": " + written.error().message};
    }
    return {};
}

Result<void> XdgAutostartLoginItem::unregisterItem() {
    if (::unlink(entryPath_.c_str()) != 0 && errno != ENOENT) {
        return Error{"Could not remove the autostart entry " + entryPath_ + ": " + files::errnoText(errno)};
    }
    return {};
}

} // namespace perchwell
