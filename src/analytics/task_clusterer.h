#pragma once

#include "analytics/workflow_task.h"
#include "workflow/jsonl_entry.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// Groups prompts into tasks. Pure functions.
class TaskClusterer {
public:
    // Tasks of the prompts (any order), newest first. A pause longer than `gap` seconds
    // or a change of working directory starts a new task.
    static std::vector<WorkflowTask> cluster(std::vector<UserEntry> prompts, double gap);
    static std::optional<WorkflowTask> makeTask(const std::vector<UserEntry>& run);
    // Line feeds to spaces, then white space trimmed from both ends.
    static std::string clean(std::string_view text);
    // Only what the user typed: drops records made of tool results alone.
    static std::vector<UserEntry> typedPrompts(std::vector<UserEntry> prompts);
    static bool isToolResultOnly(const UserEntry& entry);
};

} // namespace perchwell
