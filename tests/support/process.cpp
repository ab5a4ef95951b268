#include "support/process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <stdexcept>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#ifndef PERCHWELL_BIN_DIR
#define PERCHWELL_BIN_DIR "."
#endif

namespace perchwell::testing {

std::string binaryPath(const std::string& name) {
    return std::string(PERCHWELL_BIN_DIR) + "/" + name;
}

namespace {

[[noreturn]] void execArgv(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
}

int statusCode(int status) {
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

} // namespace

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv, const std::string& errPath) {
    pid_ = ::fork();
    if (pid_ == 0) {
        const int devnull = ::open("/dev/null", O_RDWR);
        const int err =
            errPath.empty() ? devnull : ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(devnull, 0);
        ::dup2(devnull, 1);
        ::dup2(err, 2);
        execArgv(argv);
    }
}

BackgroundProcess::~BackgroundProcess() {
    if (pid_ > 0) {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
}

int BackgroundProcess::stop(int signal, int timeoutMs) {
    if (pid_ <= 0) {
        return -1;
    }
    ::kill(pid_, signal);
    int status = 0;
    for (int waited = 0; waited <= timeoutMs; waited += 20) {
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            return statusCode(status);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return -1;
}

ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input,
                         bool closeStdoutEarly) {
    int in[2], out[2], err[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    std::signal(SIGPIPE, SIG_IGN);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(in[0], 0);
        ::dup2(out[1], 1);
        ::dup2(err[1], 2);
        execArgv(argv);
    }
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    if (closeStdoutEarly) {
        ::close(out[0]);
        out[0] = -1;
    }

    ProcessResult result;
    size_t written = 0;
    int inFd = in[1];
    if (input.empty()) {
        ::close(inFd);
        inFd = -1;
    } else {
        ::fcntl(inFd, F_SETFL, O_NONBLOCK);
    }
    while (inFd >= 0 || out[0] >= 0 || err[0] >= 0) {
        pollfd fds[3] = {{inFd, POLLOUT, 0}, {out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 && errno != EINTR) {
            break;
        }
        if (inFd >= 0 && (fds[0].revents & (POLLOUT | POLLERR | POLLHUP))) {
            const ssize_t n = ::write(inFd, input.data() + written, input.size() - written);
            if (n > 0) {
                written += static_cast<size_t>(n);
            }
            if (n < 0 && errno != EAGAIN) {
                written = input.size();
            }
            if (written == input.size()) {
                ::close(inFd);
                inFd = -1;
            }
        }
        for (int i = 1; i < 3; ++i) {
            int& fd = i == 1 ? out[0] : err[0];
            if (fd >= 0 && (fds[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                char buf[65536];
                const ssize_t n = ::read(fd, buf, sizeof buf);
                if (n > 0) {
                    (i == 1 ? result.out : result.err).append(buf, static_cast<size_t>(n));
                } else if (n == 0 || errno != EINTR) {
                    ::close(fd);
                    fd = -1;
                }
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) {
        result.exitCode = WEXITSTATUS(status);
    } else if (WIFSIGNALED(status)) {
        result.termSignal = WTERMSIG(status);
    }
    return result;
}

} // namespace perchwell::testing
