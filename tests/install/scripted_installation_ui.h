#pragma once

#include "install/installation_ui.h"

#include <functional>
#include <string>
#include <vector>

namespace perchwell::testing {

// Answers the offer as told and records what it was shown and asked to start.
class ScriptedUi : public InstallationUi {
public:
    bool accept = true;
    std::function<Result<void>(const std::string&, const std::vector<std::string>&)> starter;

    std::vector<std::string> prompts;
    std::vector<std::string> failures;
    std::vector<std::string> launched;
    int terminations = 0;

    bool confirmInstall(const std::string& message, const std::string& text) override {
        prompts.push_back(message + "\n" + text);
        return accept;
    }
    void showFailure(const std::string& text) override { failures.push_back(text); }
    Result<void> launch(const std::string& executable, const std::vector<std::string>& arguments) override {
        launched.push_back(executable);
        for (const auto& argument : arguments) {
            launched.push_back(argument);
        }
        return starter ? starter(executable, arguments) : Result<void>();
    }
    void terminateSoon() override { ++terminations; }
};

} // namespace perchwell::testing
