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

// The path of a binary built into the build tree's bin/ directory.
std::string binaryPath(const std::string& name);

} // namespace perchwell::testing
