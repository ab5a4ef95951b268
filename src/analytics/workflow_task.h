#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace perchwell {

// A run of prompts given in one working directory without a long pause.
struct WorkflowTask {
    std::string id;  // a fresh random UUID per task built
    std::string cwd; // of the first prompt; "<unknown>" when it had none
    double startedAt = 0;
    double endedAt = 0;
    std::string title; // first prompt, cleaned, at most 60 characters
    int64_t promptCount = 0;
    std::vector<std::string> breadcrumb; // first up to 3 prompts, at most 40 characters each

    bool operator==(const WorkflowTask&) const = default;
};

} // namespace perchwell
