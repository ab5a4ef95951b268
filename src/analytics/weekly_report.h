#pragma once

#include "analytics/workflow_task.h"

#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// The texts of the weekly report: the rule-based Markdown and what a local model is asked.
class WeeklyReport {
public:
    static constexpr size_t promptTaskLimit = 40;
    static constexpr size_t titlesPerProject = 8;
    static constexpr const char* systemText =
        "You are an excellent engineering manager who turns scattered development work into concise weekly "
        "reports. Output markdown only, no explanation.";

    // The last path component of `cwd`, or all of it when that component is empty.
    static std::string projectName(std::string_view cwd);
    // Groups by project, most tasks first, at most 8 titles each.
    static std::string ruleBasedReport(const std::vector<WorkflowTask>& tasks);
    // The request for the model: one line per task, at most 40.
    static std::string ollamaPrompt(const std::vector<WorkflowTask>& tasks);
    // The stub followed by why the model's report is missing.
    static std::string withFailureNote(const std::string& stub, std::string_view error);
};

} // namespace perchwell
