#include "assist/tmux_pane_finder.h"
#include "support/fake_command_runner.h"
#include "support/temp_home.h"

#include <filesystem>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::FakeCommandRunner;

ProcessInfo process(int pid, int ppid, std::string comm, std::string cwd = {}, int pgrp = 0, int tpgid = 0,
                    char state = 'S') {
    return {
        pid,           ppid, pgrp ? pgrp : pid, tpgid ? tpgid : (pgrp ? pgrp : pid), state, std::move(comm),
        std::move(cwd)};
}

TEST(TmuxPaneFinderTest, ChoosesOnlyAPaneWhoseForegroundIsTheSessionsClaude) {
    const std::string dir = "/work/app";
    // tmux server 100; pane shells 200 (%1), 300 (%2), 400 (%3); claude children.
    const std::vector<TmuxPane> panes = {{200, "%1"}, {300, "%2"}, {400, "%3"}};
    struct Case {
        const char* what;
        std::map<int, ProcessInfo> processes;
        PaneSearch::Outcome outcome;
        std::string pane;
        std::string reason;
    };
    const Case cases[] = {
        {"one claude in front of its pane's shell",
         {{200, process(200, 100, "bash", "", 200, 210)}, {210, process(210, 200, "claude", dir)}},
         PaneSearch::Outcome::found,
         "%1",
         ""},
        {"its tools are children: the nearest pane still counts",
         {{200, process(200, 100, "bash", "", 200, 210)},
          {210, process(210, 200, "node", dir)},
          {211, process(211, 210, "claude", dir, 210, 210)}},
         PaneSearch::Outcome::found,
         "%1",
         ""},
        {"a claude stopped with Ctrl+Z gets nothing",
         {{200, process(200, 100, "bash", "", 200, 200)},
          {210, process(210, 200, "claude", dir, 210, 200, 'T')}},
         PaneSearch::Outcome::notInFront,
         "",
         "claude in /work/app is not in the foreground of its pane (%1)"},
        {"a claude behind a shell in the foreground gets nothing",
         {{200, process(200, 100, "bash", "", 200, 220)},
          {210, process(210, 200, "claude", dir, 210, 220)},
          {220, process(220, 200, "bash", dir, 220, 220)}},
         PaneSearch::Outcome::notInFront,
         "",
         "claude in /work/app is not in the foreground of its pane (%1)"},
        {"another directory's claude is not the session's",
         {{200, process(200, 100, "bash")}, {210, process(210, 200, "claude", "/work/other")}},
         PaneSearch::Outcome::none,
         "",
         "no claude process in /work/app"},
        {"a claude outside tmux",
         {{50, process(50, 1, "xterm")}, {60, process(60, 50, "claude", dir)}},
         PaneSearch::Outcome::none,
         "",
         "claude in /work/app does not run in a tmux pane"},
        {"two panes run claude in the directory: none is chosen",
         {{200, process(200, 100, "bash", "", 200, 210)},
          {210, process(210, 200, "claude", dir)},
          {400, process(400, 100, "zsh", "", 400, 410)},
          {410, process(410, 400, "claude", dir + "/")}},
         PaneSearch::Outcome::several,
         "",
         "several tmux panes run claude in /work/app (%1, %3), typing into none"},
        {"a parent cycle in a stale snapshot ends the walk",
         {{210, process(210, 211, "claude", dir)}, {211, process(211, 210, "bash")}},
         PaneSearch::Outcome::none,
         "",
         "claude in /work/app does not run in a tmux pane"},
    };
    for (const Case& c : cases) {
        const PaneSearch found = TmuxPaneFinder::match(c.processes, panes, dir);
        EXPECT_EQ(found.outcome, c.outcome) << c.what;
        EXPECT_EQ(found.paneId, c.pane) << c.what;
        EXPECT_EQ(found.reason, c.reason) << c.what;
    }
}

TEST(TmuxPaneFinderTest, ParsesStatLinesWithAwkwardCommandNames) {
    ProcessInfo info;
    ASSERT_TRUE(TmuxPaneFinder::parseStat("4242 (claude) S 4200 4242 4200 34817 4242 4194560 ...", info));
    EXPECT_EQ(info.pid, 4242);
    EXPECT_EQ(info.comm, "claude");
    EXPECT_EQ(info.ppid, 4200);
    EXPECT_EQ(info.pgrp, 4242);
    EXPECT_EQ(info.tpgid, 4242);
    ASSERT_TRUE(TmuxPaneFinder::parseStat("7 (a) b (c)) T 1 7 7 0 -1 0", info));
    EXPECT_EQ(info.comm, "a) b (c)");
    EXPECT_EQ(info.state, 'T');
    EXPECT_EQ(info.tpgid, -1);
    EXPECT_FALSE(TmuxPaneFinder::parseStat("garbage", info));

    const auto panes = TmuxPaneFinder::parsePanes("200 %1\n300 %12\nbogus\n0 %4\n400 x\n");
    ASSERT_EQ(panes.size(), 2u);
    EXPECT_EQ(panes[1].panePid, 300);
    EXPECT_EQ(panes[1].paneId, "%12");
}

// A process table on disk in /proc's shape.
void addProcess(const std::string& root, int pid, const std::string& stat, const std::string& cwd) {
    const std::string dir = root + "/" + std::to_string(pid);
    std::filesystem::create_directories(dir);
    testing::writeFile(dir + "/stat", stat);
    std::filesystem::create_directory_symlink(cwd, dir + "/cwd");
}

TEST(TmuxPaneFinderTest, ReadsTheProcessTableAndTypesWithSendKeys) {
    testing::TempHome home;
    const std::string proc = home.path() + "/proc";
    const std::string project = home.path() + "/project";
    std::filesystem::create_directories(project);
    addProcess(proc, 200, "200 (bash) S 100 200 200 34816 300 0", project);
    addProcess(proc, 300, "300 (claude) S 200 300 200 34816 300 0", project);
    std::filesystem::create_directories(proc + "/self");

    FakeCommandRunner runner;
    runner.answers["tmux list-panes -a -F #{pane_pid} #{pane_id}"] = {0, "200 %7\n"};
    runner.answers["tmux send-keys -t %7 -l -- continue"] = {0, ""};
    runner.answers["tmux send-keys -t %7 Enter"] = {0, ""};
    TmuxPaneFinder finder(runner, proc);

    // The session's directory as Claude Code wrote it may end in a slash.
    const PaneSearch found = finder.find(project + "/");
    ASSERT_EQ(found.outcome, PaneSearch::Outcome::found) << found.reason;
    EXPECT_EQ(found.paneId, "%7");
    EXPECT_TRUE(finder.sendLiteral("%7", "continue").ok());
    EXPECT_TRUE(finder.sendEnter("%7").ok());
    EXPECT_EQ(runner.calls.back(), "tmux send-keys -t %7 Enter");

    EXPECT_EQ(finder.find("").outcome, PaneSearch::Outcome::none);
    runner.answers.erase("tmux list-panes -a -F #{pane_pid} #{pane_id}");
    EXPECT_EQ(finder.find(project).reason, "no tmux server");
    EXPECT_FALSE(finder.sendLiteral("%8", "continue").ok());
}

} // namespace
} // namespace perchwell
