#include "hooks/hooks_cli.h"

#include "hooks/hook_installer.h"

namespace perchwell {
namespace {

std::string joined(const std::vector<std::string>& items) {
    std::string text;
    for (const auto& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text;
}

int fail(std::FILE* err, const std::string& what, const Error& error) {
    std::fprintf(err, "perchwell hooks %s: %s\n", what.c_str(), error.message.c_str());
    return 1;
}

int install(const std::string& executableDir, std::FILE* out, std::FILE* err) {
    if (executableDir.empty()) {
        return fail(err, "install", Error{"cannot tell where this executable lives (/proc/self/exe)"});
    }
    const auto before = HookInstaller::status();
    if (!before) {
        return fail(err, "install", before.error());
    }
    const auto after = HookInstaller::install(executableDir);
    if (!after) {
        return fail(err, "install", after.error());
    }
    std::fprintf(out, "Installed the Perchwell hook in %s for %s%s\ncommand: %s\n",
                 after->settingsPath.c_str(), joined(after->events).c_str(),
                 before->fileExists ? ("; the previous file is " + HookInstaller::backupPath()).c_str() : "",
                 joined(after->commands).c_str());
    return 0;
}

int uninstall(std::FILE* out, std::FILE* err) {
    const auto before = HookInstaller::status();
    if (!before) {
        return fail(err, "uninstall", before.error());
    }
    if (!before->installed()) {
        std::fprintf(out, "No Perchwell hook in %s; nothing to remove\n", before->settingsPath.c_str());
        return 0;
    }
    const auto after = HookInstaller::uninstall();
    if (!after) {
        return fail(err, "uninstall", after.error());
    }
    std::fprintf(out, "Removed the Perchwell hook from %s (%s); the previous file is %s\n",
                 after->settingsPath.c_str(), joined(before->events).c_str(),
                 HookInstaller::backupPath().c_str());
    return 0;
}

int status(const std::string& executableDir, std::FILE* out, std::FILE* err) {
    const auto found = HookInstaller::status();
    if (!found) {
        return fail(err, "status", found.error());
    }
    if (!found->installed()) {
        std::fprintf(out, "Not installed: %s %s\nTo install: %s\n", found->settingsPath.c_str(),
                     found->fileExists ? "holds no Perchwell hook" : "does not exist",
                     HooksCli::fixCommand(executableDir).c_str());
        return 0;
    }
    std::fprintf(out, "Installed in %s for %s\ncommand: %s\n", found->settingsPath.c_str(),
                 joined(found->events).c_str(), joined(found->commands).c_str());
    return 0;
}

} // namespace

std::string HooksCli::fixCommand(const std::string& executableDir) {
    return HookInstaller::shellQuote(executableDir + "/perchwell") + " hooks install";
}

int HooksCli::run(const std::vector<std::string>& arguments, const std::string& executableDir, std::FILE* out,
                  std::FILE* err) {
    const std::string action = arguments.size() == 1 ? arguments[0] : std::string();
    if (action == "install") {
        return install(executableDir, out, err);
    }
    if (action == "uninstall") {
        return uninstall(out, err);
    }
    if (action == "status") {
        return status(executableDir, out, err);
    }
    std::fprintf(err, "usage: perchwell hooks install|uninstall|status\n");
    return 2;
}

} // namespace perchwell
