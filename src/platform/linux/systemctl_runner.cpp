#include "platform/linux/systemctl_runner.h"

#include "common/file_util.h"
#include "common/system_log.h"

#include <cerrno>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace perchwell {

int SystemctlRunner::run(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{tool_, "--user"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    std::vector<char*> cargv;
    for (auto& a : argv) {
        cargv.push_back(a.data());
    }
    cargv.push_back(nullptr);

    // Output goes to /dev/null rather than to pipes nobody reads: a chatty tool could
    // otherwise fill a pipe and never exit while we wait for it.
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    pid_t pid = -1;
    const int spawned = ::posix_spawnp(&pid, tool_.c_str(), &actions, nullptr, cargv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0) {
        systemlog::write("[Perchwell] launchctl spawn failed: " + files::errnoText(spawned));
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            systemlog::write("[Perchwell] launchctl spawn failed: " + files::errnoText(errno));
            return -1;
        }
    }
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    // Killed by a signal: report it the way a shell would.
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

} // namespace perchwell
