#pragma once

#include <string>
#include <vector>

namespace perchwell::testing {

struct ProcessResult {
    int exitCode = -1;  // -1 when killed by a signal
    int termSignal = 0; // the signal, when killed
    std::string out;
    std::string err;
};

// Runs `argv` with `input` on its standard input and collects both outputs. The
// child inherits the current environment (and so the test's temporary HOME).
ProcessResult runProcess(const std::vector<std::string>& argv, const std::string& input = {},
                         bool closeStdoutEarly = false);

// A child process left running while the test works; killed (SIGKILL) if still alive
// when it goes out of scope. Standard input and output are /dev/null.
class BackgroundProcess {
public:
    // `errPath`: where its standard error goes (empty: /dev/null).
    explicit BackgroundProcess(const std::vector<std::string>& argv, const std::string& errPath = {});
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    int pid() const { return pid_; }
    // Sends `signal` and waits up to `timeoutMs`: the exit status (128 + signal when
    // killed by one), or -1 when it did not end in time.
    int stop(int signal, int timeoutMs = 10000);

private:
    int pid_ = -1;
};

// The path of a binary built into the build tree's bin/ directory.
std::string binaryPath(const std::string& name);

} // namespace perchwell::testing
