#include "platform/linux/systemd_inhibit_guardian.h"

#include "common/file_util.h"
#include "common/unique_fd.h"

#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace perchwell {

namespace {

std::string trimmed(std::string_view text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string_view::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return std::string(text.substr(first, last - first + 1));
}

struct Pipe {
    UniqueFd read, write;
};

bool makePipe(Pipe& pipe) {
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return false;
    }
    pipe.read.reset(fds[0]);
    pipe.write.reset(fds[1]);
    return true;
}

// Reads until the first line feed or the end; the text before the line feed.
std::string readFirstLine(int fd) {
    std::string line;
    char c = 0;
    for (;;) {
        const ssize_t n = ::read(fd, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || c == '\n') {
            return line;
        }
        line += c;
    }
}

} // namespace

SystemdInhibitGuardian::SystemdInhibitGuardian(std::string program) : program_(std::move(program)) {}

GuardianOutcome SystemdInhibitGuardian::arm(const std::string& loopScript) {
    std::vector<std::string> arguments = {program_,
                                          "--what=handle-lid-switch",
                                          "--mode=block",
                                          "--who=Perchwell",
                                          std::string("--why=") + why,
                                          "/bin/sh",
                                          "-c",
                                          loopScript,
                                          "pv-closedlid"};
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    Pipe out, err;
    if (!makePipe(out) || !makePipe(err)) {
        return {false, "could not create a pipe: " + files::errnoText(errno), {}};
    }
    const std::string notRun = "could not run " + program_ + "\n";
    UniqueFd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    const pid_t child = ::fork();
    if (child < 0) {
        return {false, "could not start " + program_ + ": " + files::errnoText(errno), {}};
    }
    if (child == 0) {
        // The intermediate child: a new session, then the guardian's own process, so
        // the guardian is reparented and never becomes our zombie.
        ::setsid();
        const pid_t guardian = ::fork();
        if (guardian != 0) {
            ::_exit(guardian < 0 ? 127 : 0);
        }
        ::dup2(devNull.get(), STDIN_FILENO);
        ::dup2(out.write.get(), STDOUT_FILENO);
        ::dup2(err.write.get(), STDERR_FILENO);
        // Nothing of ours may live on in the guardian, least of all an inhibitor.
        ::close_range(3, ~0U, 0);
        ::execvp(argv[0], argv.data());
        [[maybe_unused]] auto written = ::write(STDERR_FILENO, notRun.data(), notRun.size());
        ::_exit(127);
    }
    out.write.reset();
    err.write.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }

    // The loop speaks only once the inhibitor is held; without it the program has
    // ended (refused, or not there) and said why on its standard error.
    if (readFirstLine(out.read.get()) == "armed") {
        // systemd-inhibit keeps this pipe as its standard output until it ends, and it
        // ends with the loop: the read end tells when the lock is gone.
        return {true, {}, std::move(out.read)};
    }
    const auto said = files::readAll(err.read.get(), 64 * 1024);
    std::string message = said ? trimmed(*said) : std::string();
    if (message.empty()) {
        message = "the lid-switch inhibitor was not granted";
    }
    return {false, message, {}};
}

} // namespace perchwell
