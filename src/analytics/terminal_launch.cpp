#include "analytics/terminal_launch.h"

#include "common/file_util.h"
#include "common/unique_fd.h"
#include "common/utf8.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace perchwell {

std::optional<std::string> TerminalLaunch::trimmedDirectory(std::string_view cwd) {
    size_t b = 0;
    size_t e = cwd.size();
    while (b < e && (cwd[b] == ' ' || cwd[b] == '\t')) {
        ++b;
    }
    while (e > b && (cwd[e - 1] == ' ' || cwd[e - 1] == '\t')) {
        --e;
    }
    if (b == e) {
        return std::nullopt;
    }
    return std::string(cwd.substr(b, e - b));
}

std::string TerminalLaunch::escapeForAppleScript(std::string_view text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') {
            out += "\\\\";
        } else if (c == '"') {
            out += "\\\"";
        } else {
            out += c;
        }
    }
    return out;
}

std::string TerminalLaunch::appleScript(std::string_view directory) {
    return "tell application \"Terminal\"\n    activate\n    do script \"cd \\\"" +
           escapeForAppleScript(directory) + "\\\" && " + claudeCommand + "\"\nend tell";
}

std::vector<std::string> TerminalLaunch::terminalCommand(const std::string& terminal) {
    // The shell stays after claude ends, as a Terminal window would.
    return {terminal, "-e", "sh", "-c", std::string(claudeCommand) + "; exec \"${SHELL:-sh}\""};
}

Result<void> TerminalLaunch::launch(const std::string& directory) {
    const char* configured = std::getenv("TERMINAL");
    const std::string terminal =
        configured != nullptr && *configured != '\0' ? configured : "x-terminal-emulator";
    const auto command = terminalCommand(terminal);
    std::vector<char*> argv;
    for (const auto& a : command) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);

    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return Error{files::errnoText(errno)};
    }
    UniqueFd readEnd(fds[0]);
    UniqueFd writeEnd(fds[1]);
    // Two forks, so the terminal is nobody's child here and leaves no zombie.
    const pid_t child = ::fork();
    if (child < 0) {
        return Error{files::errnoText(errno)};
    }
    if (child == 0) {
        ::setsid();
        if (::fork() == 0) {
            int err = 0;
            if (::chdir(directory.c_str()) != 0) {
                err = errno;
            } else {
                ::execvp(argv[0], argv.data());
                err = errno;
            }
            (void)!::write(writeEnd.get(), &err, sizeof(err));
            ::_exit(127);
        }
        ::_exit(0);
    }
    writeEnd.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    int err = 0;
    ssize_t n;
    while ((n = ::read(readEnd.get(), &err, sizeof(err))) < 0 && errno == EINTR) {
    }
    if (n == static_cast<ssize_t>(sizeof(err))) {
        return Error{terminal + ": " + files::errnoText(err)};
    }
    return {};
}

} // namespace perchwell
