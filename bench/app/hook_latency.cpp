// The whole hook as Claude Code runs it, `sh -c '<hook command>'` with 1 KB of input on
// a pipe, against `sh -c <C no-op>`: the one-process command (pv-hook-client) with the
// application running and with it not running, and for reference the earlier
// temp-file command line and the programs alone. All interleaved in one run.
//
//   bench_hook_latency [runs]      (default 300)
//
// Starts `perchwell --headless` in a temporary HOME, so nothing touches the real one;
// "not running" points the data directory elsewhere, where no socket exists.
#include "hook_inputs.h"
#include "spawn_timer.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

int main(int argc, char** argv) {
    using namespace perchwell::bench;
    const int runs = argc > 1 ? std::max(10, std::atoi(argv[1])) : 300;
    const std::string home = makeBenchHome();
    const std::string bin = PERCHWELL_BIN_DIR;
    const std::string socket = home + "/.local/share/perchwell/hook.sock";

    pid_t app = -1;
    std::string appPath = bin + "/perchwell";
    char headless[] = "--headless";
    char* appArgs[] = {appPath.data(), headless, nullptr};
    posix_spawn_file_actions_t quiet;
    posix_spawn_file_actions_init(&quiet);
    posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&app, appArgs[0], &quiet, nullptr, appArgs, environ) != 0) {
        std::perror("perchwell --headless");
        return 1;
    }
    for (int i = 0; i < 500 && !std::filesystem::exists(socket); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (!std::filesystem::exists(socket)) {
        std::fprintf(stderr, "the application did not open %s\n", socket.c_str());
        ::kill(app, SIGKILL);
        return 1;
    }

    const std::string client = "\"" + bin + "/pv-hook-client\"";
    const std::string noop = "\"" + bin + "/bench_noop\"";
    const std::string oldCommand = "T=$(mktemp); cat > \"$T\"; " + client + " < \"$T\" || \"" + bin +
                                   "/perchwell\" hook < \"$T\"; r=$?; rm -f \"$T\"; exit $r";
    const std::vector<std::string> notRunning = {"XDG_DATA_HOME=" + home + "/no-application"};
    const std::vector<Variant> variants = {
        {"sh -c <C no-op> (floor)", {"/bin/sh", "-c", noop}, {}},
        {"sh -c <client>, application running", {"/bin/sh", "-c", client}, {}},
        {"sh -c <client>, application not running", {"/bin/sh", "-c", client}, notRunning},
        {"sh -c <temp-file command>, running", {"/bin/sh", "-c", oldCommand}, {}},
        {"sh -c <temp-file command>, not running", {"/bin/sh", "-c", oldCommand}, notRunning},
        {"pv-hook-client alone, running", {bin + "/pv-hook-client"}, {}},
        {"perchwell hook alone", {bin + "/perchwell", "hook"}, {}},
        {"C no-op alone", {bin + "/bench_noop"}, {}},
    };
    const int failures =
        compareInterleaved("the hook command as Claude Code runs it", variants, bashEvent(), runs);
    ::kill(app, SIGTERM);
    ::waitpid(app, nullptr, 0);
    std::filesystem::remove_all(home);
    return failures == 0 ? 0 : 1;
}
