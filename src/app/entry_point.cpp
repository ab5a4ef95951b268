#include "app/entry_point.h"

#include "analytics/trace_parser.h"
#include "analytics/usage_report.h"
#include "common/system_log.h"
#include "hooks/hook_command.h"
#include "hooks/hooks_cli.h"
#include "platform/paths.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>

namespace perchwell {
namespace {

constexpr const char* desktopLibraryName = "libperchwell_desktop.so";
constexpr const char* desktopEntrySymbol = "perchwell_desktop_main";

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

} // namespace

bool EntryPoint::isHookMode(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 &&
           std::find(arguments.begin() + 1, arguments.end(), "hook") != arguments.end();
}

std::vector<std::string> EntryPoint::desktopLibraryCandidates(const std::string& executableDir) {
    // The build tree (bin/ beside lib/) and /usr/bin -> /usr/lib; then a private
    // directory of the installed tree; then side by side.
    return {
        executableDir + "/../lib/" + desktopLibraryName,
        executableDir + "/../lib/perchwell/" + desktopLibraryName,
        executableDir + "/" + desktopLibraryName,
    };
}

int EntryPoint::main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    if (!isHookMode(arguments)) {
        if (arguments.size() > 1 && arguments[1] == "hooks") {
            return HooksCli::run({arguments.begin() + 2, arguments.end()}, Paths::executableDirectory(),
                                 stdout, stderr);
        }
        if (arguments.size() > 1 && arguments[1] == "usage") {
            // Token reports without a window: the desktop library is never loaded.
            return UsageReport::run({arguments.begin() + 2, arguments.end()}, TraceParser::defaultRoot());
        }
        return runApplication(argc, argv);
    }
    // A reader that closed its end must not kill us: the exit status stays 0.
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    systemlog::write("[Perchwell] hook mode: argc=" + std::to_string(argc));
    HookCommand::run();
    return 0;
}

int EntryPoint::runApplication(int argc, char** argv) {
    const std::vector<std::string> candidates = desktopLibraryCandidates(Paths::executableDirectory());
    const auto found = std::find_if(candidates.begin(), candidates.end(), fileExists);
    if (found == candidates.end()) {
        std::string message = "perchwell: cannot find the desktop library " +
                              std::string(desktopLibraryName) + "; looked in:\n";
        for (const auto& candidate : candidates) {
            message += "  " + candidate + "\n";
        }
        std::fputs(message.c_str(), stderr);
        return 1;
    }
    // Never closed: the application runs inside it until the process ends.
    void* library = ::dlopen(found->c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* reason = ::dlerror();
        std::fprintf(stderr, "perchwell: cannot load the desktop library %s: %s\n", found->c_str(),
                     reason != nullptr ? reason : "unknown error");
        return 1;
    }
    // A plain C function: this executable's C++ runtime is its own, the library's is shared.
    using EntryFunction = int (*)(int, char**) noexcept;
    auto entry = reinterpret_cast<EntryFunction>(::dlsym(library, desktopEntrySymbol));
    if (entry == nullptr) {
        std::fprintf(stderr, "perchwell: %s has no entry function %s\n", found->c_str(), desktopEntrySymbol);
        return 1;
    }
    return entry(argc, argv);
}

} // namespace perchwell
