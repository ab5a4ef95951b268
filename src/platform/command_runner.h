#pragma once

#include "common/result.h"

#include <chrono>
#include <string>
#include <vector>

namespace perchwell {

// What a finished helper program said.
struct CommandOutput {
    int exitCode = -1; // 128 + signal when killed by one
    std::string out;   // standard output (standard error is dropped)
};

// Runs small helper programs (tmux, ibus, fcitx5-remote) and collects their output.
// The Linux backend spawns them; tests use a recording double.
class CommandRunner {
public:
    virtual ~CommandRunner() = default;
    // An error when the program cannot be started or does not end within `limit`
    // (it is then killed): a wedged helper must never hold up the caller.
    virtual Result<CommandOutput> run(const std::vector<std::string>& argv,
                                      std::chrono::milliseconds limit = std::chrono::seconds(2)) = 0;
};

// Spawns the program found on PATH, standard input from /dev/null.
class SpawnCommandRunner final : public CommandRunner {
public:
    Result<CommandOutput> run(const std::vector<std::string>& argv, std::chrono::milliseconds limit) override;
    using CommandRunner::run;
};

} // namespace perchwell
