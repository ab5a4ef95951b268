// pv-hook-client [--socket PATH] [--timeout-ms N] [--exe PATH] < hook-input.json
#include "common/file_util.h"
#include "common/system_log.h"
#include "hook_client.h"
#include "hooks/hook_command.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

int main(int argc, char** argv) {
    using perchwell::HookClient;
    // Whoever reads our output may be gone; that is a failed write, not a crash.
    std::signal(SIGPIPE, SIG_IGN);
    auto options = HookClient::defaultOptions();
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--socket" && i + 1 < argc) {
            options.socketPath = argv[++i];
        } else if (arg == "--timeout-ms" && i + 1 < argc) {
            options.timeout = std::chrono::milliseconds(std::strtol(argv[++i], nullptr, 10));
        } else if (arg == "--exe" && i + 1 < argc) {
            options.hookExecutable = argv[++i];
        } else {
            std::fprintf(stderr, "usage: pv-hook-client [--socket PATH] [--timeout-ms N] [--exe PATH] "
                                 "< hook-input.json\n");
            return 1;
        }
    }
    // Read once, the way the hook process reads: the fallback gets exactly these bytes.
    const std::string input = perchwell::HookCommand::readStdin(0).value_or("");
    if (const auto answer = HookClient::answerFromApplication(input, options)) {
        // Answered, and logged by the application; a reader that went away changes nothing.
        (void)perchwell::files::writeAll(1, *answer + "\n");
        return 0;
    }
    const perchwell::Error error = HookClient::execHook(input, options.hookExecutable);
    perchwell::systemlog::write("[Perchwell hook] cannot run " + options.hookExecutable +
                                " hook: " + error.message);
    (void)perchwell::files::writeAll(1, HookClient::failSafeAnswer(input) + "\n");
    return 0;
}
