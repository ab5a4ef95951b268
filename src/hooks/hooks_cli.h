#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace perchwell {

// `perchwell hooks install|uninstall|status`: the installer for terminals and machines
// without a desktop. Each says in a line or two what it did or found; 0 on success,
// 1 on failure, 2 on a usage error. Never loads the desktop library.
class HooksCli {
public:
    // `arguments`: what follows "hooks". `executableDir`: where the hook command's
    // programs live.
    static int run(const std::vector<std::string>& arguments, const std::string& executableDir,
                   std::FILE* out, std::FILE* err);

    // The line that fixes a missing hook: `"<dir>/perchwell" hooks install`.
    static std::string fixCommand(const std::string& executableDir);
};

} // namespace perchwell
