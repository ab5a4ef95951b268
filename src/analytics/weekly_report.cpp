#include "analytics/weekly_report.h"

#include <algorithm>
#include <map>

namespace perchwell {

std::string WeeklyReport::projectName(std::string_view cwd) {
    const size_t slash = cwd.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? cwd : cwd.substr(slash + 1);
    return std::string(last.empty() ? cwd : last);
}

std::string WeeklyReport::ruleBasedReport(const std::vector<WorkflowTask>& tasks) {
    std::vector<std::pair<std::string, std::vector<const WorkflowTask*>>> groups;
    std::map<std::string, size_t> index;
    int64_t prompts = 0;
    for (const auto& task : tasks) {
        const std::string project = projectName(task.cwd);
        auto [it, fresh] = index.try_emplace(project, groups.size());
        if (fresh) {
            groups.push_back({project, {}});
        }
        groups[it->second].second.push_back(&task);
        prompts += task.promptCount;
    }
    std::stable_sort(groups.begin(), groups.end(),
                     [](const auto& a, const auto& b) { return a.second.size() > b.second.size(); });
    std::vector<std::string> lines = {
        "# Weekly Report", "",
        "**" + std::to_string(tasks.size()) + " tasks, " + std::to_string(prompts) + " prompts total**", ""};
    for (const auto& [project, members] : groups) {
        lines.push_back("## " + project);
        for (size_t i = 0; i < std::min(titlesPerProject, members.size()); ++i) {
            lines.push_back("- " + members[i]->title);
        }
        lines.emplace_back();
    }
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        out += (i > 0 ? "\n" : "") + lines[i];
    }
    return out;
}

std::string WeeklyReport::ollamaPrompt(const std::vector<WorkflowTask>& tasks) {
    std::string out = "My work tasks from the past 7 days:\n";
    for (size_t i = 0; i < std::min(promptTaskLimit, tasks.size()); ++i) {
        const auto& t = tasks[i];
        out += (i > 0 ? "\n" : "") + std::string("- [") + projectName(t.cwd) + "] " + t.title + " (" +
               std::to_string(t.promptCount) + " prompts)";
    }
    return out +
           "\n\nWrite a concise English markdown weekly report with: 3 highlights, project-grouped work "
           "summary, and open follow-ups. Use ## headings.";
}

std::string WeeklyReport::withFailureNote(const std::string& stub, std::string_view error) {
    return stub + "\n\n_(Ollama generation failed: " + std::string(error) +
           ". The report above is rule-based.)_";
}

} // namespace perchwell
