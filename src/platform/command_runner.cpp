#include "platform/command_runner.h"

#include "common/file_util.h"
#include "common/unique_fd.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace perchwell {

namespace {

// Reaps `pid`, killing it first when asked; its exit status the way a shell reports it.
int reap(pid_t pid, bool kill) {
    if (kill) {
        ::kill(pid, SIGKILL);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace

Result<CommandOutput> SpawnCommandRunner::run(const std::vector<std::string>& argv,
                                              std::chrono::milliseconds limit) {
    if (argv.empty()) {
        return Error{"no program to run"};
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return Error{"pipe: " + files::errnoText(errno)};
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);

    std::vector<char*> cargv;
    std::vector<std::string> copy = argv;
    for (auto& a : copy) {
        cargv.push_back(a.data());
    }
    cargv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, writeEnd.get(), 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, copy[0].c_str(), &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        return Error{argv[0] + ": " + files::errnoText(spawned)};
    }
    writeEnd.reset();

    CommandOutput output;
    const auto deadline = std::chrono::steady_clock::now() + limit;
    char buffer[4096];
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            reap(pid, true);
            return Error{argv[0] + " did not finish in time"};
        }
        pollfd p{readEnd.get(), POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            continue; // the deadline check above ends it
        }
        const ssize_t n = ::read(readEnd.get(), buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        output.out.append(buffer, static_cast<size_t>(n));
    }
    // Output closed: the program is ending (a daemonising child keeping the pipe
    // open is cut off by the deadline above).
    output.exitCode = reap(pid, false);
    return output;
}

} // namespace perchwell
