#pragma once

#include "platform/command_runner.h"

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace perchwell::testing {

// Answers helper programs from a table keyed by the joined command line, and
// remembers every call. Unknown commands are "not found".
class FakeCommandRunner final : public CommandRunner {
public:
    Result<CommandOutput> run(const std::vector<std::string>& argv, std::chrono::milliseconds) override {
        calls.push_back(joined(argv));
        auto it = answers.find(calls.back());
        if (it == answers.end()) {
            return Error{argv.empty() ? "" : argv[0] + ": No such file or directory"};
        }
        return it->second;
    }
    using CommandRunner::run;

    static std::string joined(const std::vector<std::string>& argv) {
        std::string out;
        for (const auto& a : argv) {
            out += (out.empty() ? "" : " ") + a;
        }
        return out;
    }

    std::map<std::string, CommandOutput> answers;
    std::vector<std::string> calls;
};

} // namespace perchwell::testing
