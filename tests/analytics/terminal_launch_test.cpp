#include "analytics/terminal_launch.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace perchwell {
namespace {

TEST(TerminalLaunchTest, AppleScriptEscapesBackslashesThenQuotes) {
    EXPECT_EQ(
        TerminalLaunch::appleScript("/Users/ann/my app"),
        "tell application \"Terminal\"\n    activate\n"
        "    do script \"cd \\\"/Users/ann/my app\\\" && claude --dangerously-skip-permissions\"\nend tell");
    EXPECT_EQ(TerminalLaunch::escapeForAppleScript(R"(a"b\c)"), R"(a\"b\\c)");
    EXPECT_EQ(TerminalLaunch::escapeForAppleScript(R"(\")"), R"(\\\")");
    EXPECT_FALSE(TerminalLaunch::trimmedDirectory(" \t  "));
    EXPECT_FALSE(TerminalLaunch::trimmedDirectory(""));
    EXPECT_EQ(TerminalLaunch::trimmedDirectory("\t /a b \t"), "/a b");
}

// $TERMINAL is started in the directory with claude's command line; a missing program
// is an error, not a silent nothing.
TEST(TerminalLaunchTest, StartsTheUsersTerminalInTheDirectory) {
    const std::string dir = testing::makeTempDir();
    const std::string script = dir + "/term";
    testing::writeFile(script, "#!/bin/sh\npwd > \"$0.out\"\necho \"$@\" >> \"$0.out\"\n");
    std::filesystem::permissions(script, std::filesystem::perms::owner_all);
    const std::string work = dir + "/with \"quote\"";
    std::filesystem::create_directories(work);
    ::setenv("TERMINAL", script.c_str(), 1);
    ASSERT_TRUE(TerminalLaunch::launch(work).ok());
    std::string out;
    for (int i = 0; i < 100 && out.find('\n') == out.rfind('\n'); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        out = std::filesystem::exists(script + ".out") ? testing::readFile(script + ".out") : "";
    }
    EXPECT_EQ(out, work + "\n-e sh -c claude --dangerously-skip-permissions; exec \"${SHELL:-sh}\"\n");
    ::setenv("TERMINAL", (dir + "/missing").c_str(), 1);
    EXPECT_FALSE(TerminalLaunch::launch(work).ok());
    ::unsetenv("TERMINAL");
    testing::removeTree(dir);
}

} // namespace
} // namespace perchwell
