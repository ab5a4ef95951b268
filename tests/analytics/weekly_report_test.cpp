#include "analytics/weekly_report.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

WorkflowTask task(std::string cwd, std::string title, int64_t prompts = 1) {
    WorkflowTask t;
    t.cwd = std::move(cwd);
    t.title = std::move(title);
    t.promptCount = prompts;
    return t;
}

TEST(WeeklyReportTest, StubShapes) {
    EXPECT_EQ(WeeklyReport::ruleBasedReport({}), "# Weekly Report\n\n**0 tasks, 0 prompts total**\n");
    EXPECT_EQ(WeeklyReport::ruleBasedReport(
                  {task("/w/app", "newest", 2), task("/w/lib", "lib"), task("/w/app", "older", 3), task("/", "root")}),
              "# Weekly Report\n\n**4 tasks, 7 prompts total**\n\n## app\n- newest\n- older\n\n## lib\n- lib\n\n## /\n"
              "- root\n");
    EXPECT_EQ(WeeklyReport::projectName("/a/b/"), "/a/b/");
    EXPECT_EQ(WeeklyReport::projectName("<unknown>"), "<unknown>");
}

TEST(WeeklyReportTest, FortyFiveTasks) {
    std::vector<WorkflowTask> tasks;
    for (int i = 0; i < 45; ++i) {
        tasks.push_back(task("/p" + std::to_string(i % 3), "t" + std::to_string(i)));
    }
    const auto prompt = WeeklyReport::ollamaPrompt(tasks);
    EXPECT_EQ(std::count(prompt.begin(), prompt.end(), '\n'), 39 + 1 + 2);
    EXPECT_EQ(prompt.rfind("My work tasks from the past 7 days:\n- [p0] t0 (1 prompts)\n- [p1] t1", 0), 0u);
    EXPECT_NE(prompt.find("- [p0] t39 (1 prompts)\n\nWrite a concise"), std::string::npos);
    const auto stub = WeeklyReport::ruleBasedReport(tasks);
    for (const char* heading : {"## p0\n", "## p1\n", "## p2\n"}) {
        EXPECT_NE(stub.find(heading), std::string::npos);
    }
    EXPECT_EQ(std::count(stub.begin(), stub.end(), '-'), 24); // 8 titles for each of 3 projects
    EXPECT_EQ(WeeklyReport::withFailureNote("S", "timed out"),
              "S\n\n_(Ollama generation failed: timed out. The report above is rule-based.)_");
}

} // namespace
} // namespace perchwell
