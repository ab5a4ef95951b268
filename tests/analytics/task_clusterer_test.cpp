#include "analytics/task_clusterer.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

UserEntry prompt(double at, std::string content, std::optional<std::string> cwd = "/a") {
    UserEntry e;
    e.uuid = std::to_string(at);
    e.sessionId = "s";
    e.timestamp = at;
    e.content = std::move(content);
    e.cwd = std::move(cwd);
    return e;
}

TEST(TaskClustererTest, PausesAndDirectoriesSplitTasks) {
    const double ten = 36000;
    EXPECT_TRUE(TaskClusterer::cluster({}, 1800).empty());
    // 10:00, 10:20, 10:50: pauses of 1200 s and exactly 1800 s stay together.
    auto tasks =
        TaskClusterer::cluster({prompt(ten + 3000, "c"), prompt(ten, "a"), prompt(ten + 1200, "b")}, 1800);
    ASSERT_EQ(tasks.size(), 1u);
    EXPECT_EQ(tasks[0].promptCount, 3);
    EXPECT_EQ(tasks[0].breadcrumb, (std::vector<std::string>{"a", "b", "c"}));
    // 11:20:01 starts a second task, which comes first.
    tasks = TaskClusterer::cluster(
        {prompt(ten, "a"), prompt(ten + 1200, "b"), prompt(ten + 3000, "c"), prompt(ten + 4801, "d")}, 1800);
    ASSERT_EQ(tasks.size(), 2u);
    EXPECT_EQ(tasks[0].title, "d");
    EXPECT_DOUBLE_EQ(tasks[1].endedAt, ten + 3000);
    // Other directories, and alternation, split; two prompts without one belong together.
    tasks = TaskClusterer::cluster({prompt(0, "a", "/a"), prompt(60, "b", "/b"), prompt(120, "c", "/a"),
                                    prompt(180, "d", std::nullopt), prompt(240, "e", std::nullopt)},
                                   1800);
    ASSERT_EQ(tasks.size(), 4u);
    EXPECT_EQ(tasks[0].cwd, "<unknown>");
    EXPECT_EQ(tasks[0].promptCount, 2);
    EXPECT_EQ(tasks[3].title, "a");
    EXPECT_NE(tasks[2].id, tasks[3].id);
}

TEST(TaskClustererTest, TitlesAndBreadcrumbsCutAtCharacters) {
    const std::string owl = "🦉";
    const std::string family = "👨‍👩‍👧";
    struct Case {
        std::string content;
        std::string title;
    };
    const Case cases[] = {
        {std::string(60, 'x'), std::string(60, 'x')},
        {std::string(61, 'x'), std::string(59, 'x') + "…"},
        {"a\nb", "a b"},
        {"  \n padded\t\n", "padded"},
        {"tab\tinside\r", "tab\tinside"},
        {std::string(58, 'x') + owl + owl + owl, std::string(58, 'x') + owl + "…"},
        {std::string(59, 'x') + family, std::string(59, 'x') + family},
        {std::string(59, 'x') + "e\u0301" + "z", std::string(59, 'x') + "…"},
    };
    for (const auto& c : cases) {
        const auto task = TaskClusterer::makeTask({prompt(0, c.content)});
        ASSERT_TRUE(task);
        EXPECT_EQ(task->title, c.title) << c.content;
    }
    std::vector<UserEntry> five;
    for (int i = 0; i < 5; ++i) {
        five.push_back(prompt(i, std::string(41, 'a' + static_cast<char>(i))));
    }
    const auto task = TaskClusterer::makeTask(five);
    EXPECT_EQ(task->promptCount, 5);
    ASSERT_EQ(task->breadcrumb.size(), 3u);
    EXPECT_EQ(task->breadcrumb[2], std::string(39, 'c') + "…");
    EXPECT_FALSE(TaskClusterer::makeTask({}));
}

TEST(TaskClustererTest, OnlyTypedPromptsCount) {
    const auto typed =
        TaskClusterer::typedPrompts({prompt(0, "[tool_result]"), prompt(1, "[tool_result]\n[tool_result]"),
                                     prompt(2, "fix it\n[tool_result]"), prompt(3, ""), prompt(4, "typed")});
    ASSERT_EQ(typed.size(), 3u);
    EXPECT_EQ(typed[0].content, "fix it\n[tool_result]");
}

} // namespace
} // namespace perchwell
