// pv-hook-client [--socket PATH] [--timeout-ms N] < hook-input.json
#include "hook_client.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string_view>

int main(int argc, char** argv) {
    // Whoever reads our output may be gone; that is a failed write, not a crash.
    std::signal(SIGPIPE, SIG_IGN);
    auto options = perchwell::HookClient::defaultOptions();
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--socket" && i + 1 < argc) {
            options.socketPath = argv[++i];
        } else if (arg == "--timeout-ms" && i + 1 < argc) {
            options.timeout = std::chrono::milliseconds(std::strtol(argv[++i], nullptr, 10));
        } else {
            std::fprintf(stderr,
                         "usage: pv-hook-client [--socket PATH] [--timeout-ms N] < hook-input.json\n");
            return perchwell::HookClient::exitFailed;
        }
    }
    return perchwell::HookClient::run(0, 1, options);
}
