#include "support/process.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::binaryPath;
using testing::readFile;
using testing::runProcess;
using testing::writeFile;

// `perchwell hooks ...` as a terminal user runs it.
TEST(HooksCliProcessTest, InstallStatusUninstallSayWhatTheyDid) {
    testing::TempHome home;
    const std::string settings = home.path() + "/.claude/settings.json";
    const std::string dir = binaryPath("perchwell").substr(0, binaryPath("perchwell").rfind('/'));
    const struct {
        std::vector<std::string> args;
        int exitCode;
        std::vector<std::string> said; // each appears in standard output (or error, on failure)
    } steps[] = {
        {{"status"}, 0, {"Not installed: " + settings + " does not exist", "hooks install"}},
        {{"uninstall"}, 0, {"nothing to remove"}},
        {{"install"},
         0,
         {"Installed the Perchwell hook in " + settings +
              " for PreToolUse, UserPromptSubmit, Stop, Notification",
          "command: \"" + dir + "/pv-hook-client\" --exe \"" + dir + "/perchwell\""}},
        {{"status"},
         0,
         {"Installed in " + settings + " for PreToolUse, UserPromptSubmit, Stop, Notification"}},
        {{"uninstall"}, 0, {"Removed the Perchwell hook from " + settings, settings + ".bak"}},
        {{"status"}, 0, {"holds no Perchwell hook"}},
        {{}, 2, {"usage: perchwell hooks install|uninstall|status"}},
        {{"install", "extra"}, 2, {"usage:"}},
        {{"remove"}, 2, {"usage:"}},
    };
    for (const auto& step : steps) {
        std::vector<std::string> argv = {binaryPath("perchwell"), "hooks"};
        argv.insert(argv.end(), step.args.begin(), step.args.end());
        const auto result = runProcess(argv);
        const std::string what = step.args.empty() ? "(none)" : step.args[0];
        EXPECT_EQ(result.exitCode, step.exitCode) << what << result.out << result.err;
        for (const auto& text : step.said) {
            EXPECT_NE((result.out + result.err).find(text), std::string::npos)
                << what << " should say " << text << ", said: " << result.out << result.err;
        }
    }
}

TEST(HooksCliProcessTest, AnUnparsableFileFailsWithItsPathAndLineAndStaysAsItWas) {
    testing::TempHome home;
    const std::string settings = home.path() + "/.claude/settings.json";
    const std::string text = "{\n  \"model\": \"opus\",\n}\n";
    writeFile(settings, text);
    for (const char* action : {"install", "uninstall", "status"}) {
        const auto result = runProcess({binaryPath("perchwell"), "hooks", action});
        EXPECT_EQ(result.exitCode, 1) << action;
        EXPECT_NE(result.err.find(settings + ": line 3:"), std::string::npos) << action << ": " << result.err;
        EXPECT_EQ(readFile(settings), text) << action;
    }
}

} // namespace
} // namespace perchwell
