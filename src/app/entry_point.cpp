#include "app/entry_point.h"

#include "common/system_log.h"
#include "hooks/hook_command.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace perchwell {

bool EntryPoint::isHookMode(const std::vector<std::string>& arguments) {
    return arguments.size() > 1 &&
           std::find(arguments.begin() + 1, arguments.end(), "hook") != arguments.end();
}

int EntryPoint::main(int argc, char** argv) {
    const std::vector<std::string> arguments(argv, argv + argc);
    if (!isHookMode(arguments)) {
        return runApplication(argc, argv);
    }
    // A reader that closed its end must not kill us: the exit status stays 0.
    std::signal(SIGPIPE, SIG_IGN);
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    systemlog::write("[Perchwell] hook mode: argc=" + std::to_string(argc));
    HookCommand::run();
    return 0;
}

int EntryPoint::runApplication(int, char**) {
    std::fputs("perchwell: the application role is not built yet; only `perchwell hook` works\n", stderr);
    return 1;
}

} // namespace perchwell
