#include "hooks/hook_installer.h"
#include "support/process.h"
#include "support/temp_home.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/stat.h>

namespace perchwell {
namespace {

using testing::readFile;
using testing::writeFile;

const std::string ourCommand = R"("/opt/pw/pv-hook-client" --exe "/opt/pw/perchwell")";

rapidjson::Document parse(const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.c_str());
    return document;
}

// The commands of one event's matcher groups, in order.
std::vector<std::string> commandsOf(const rapidjson::Document& settings, const char* event) {
    std::vector<std::string> commands;
    if (!settings.HasMember("hooks") || !settings["hooks"].HasMember(event)) {
        return commands;
    }
    for (const auto& group : settings["hooks"][event].GetArray()) {
        commands.emplace_back(group["hooks"][0]["command"].GetString());
    }
    return commands;
}

class HookInstallerTest : public ::testing::Test {
protected:
    testing::TempHome home;
    std::string path = home.path() + "/.claude/settings.json";

    rapidjson::Document installed() { return parse(readFile(path)); }
};

TEST_F(HookInstallerTest, InstallKeepsEverythingElseAndLeavesOneEntryPerEventLast) {
    writeFile(path, R"j({"model": "opus", "permissions": {"allow": ["Bash(ls:*)"]}, "hooks": {
    "PreToolUse": [{"matcher": "Bash", "hooks": [{"type": "command", "command": "my-guard"}]},
                       {"matcher": "Bash", "hooks": [{"type": "command", "command": "/old/PerchWell/pv hook"}]}],
        "SessionStart": [{"hooks": [{"type": "command", "command": "echo hi"}]}]
}
})j");
    ASSERT_TRUE(HookInstaller::install("/opt/pw"));
ASSERT_TRUE(HookInstaller::install("/opt/pw")); // twice: still one entry of ours

const auto settings = installed();
EXPECT_STREQ(settings["model"].GetString(), "opus");
EXPECT_STREQ(settings["permissions"]["allow"][0].GetString(), "Bash(ls:*)");
EXPECT_EQ(commandsOf(settings, "SessionStart"), std::vector<std::string>{"echo hi"});
// The user's group first; the other copy's entry replaced, not kept beside ours.
EXPECT_EQ(commandsOf(settings, "PreToolUse"), (std::vector<std::string>{"my-guard", ourCommand}));
EXPECT_STREQ(settings["hooks"]["PreToolUse"][1]["matcher"].GetString(), "Bash|Edit|Write|MultiEdit");
for (const char* event : {"UserPromptSubmit", "Stop", "Notification"}) {
    EXPECT_EQ(commandsOf(settings, event), std::vector<std::string>{ourCommand}) << event;
    EXPECT_FALSE(settings["hooks"][event][0].HasMember("matcher")) << event;
}
// Written pretty with sorted keys.
const std::string text = readFile(path);
EXPECT_LT(text.find("\"hooks\""), text.find("\"model\""));
EXPECT_LT(text.find("\"model\""), text.find("\"permissions\""));
EXPECT_NE(text.find("\n  \"hooks\": {\n"), std::string::npos) << text;
}

TEST_F(HookInstallerTest, UninstallRemovesOnlyOursAndEmptiedEventsAndHooks) {
    const struct {
        const char* name;
        std::string before;
        std::string after; // empty: the file is expected unchanged apart from formatting
    } cases[] = {
        {"only ours", R"({"model":"x","hooks":{"Stop":[{"hooks":[{"command":"/a/perchwell hook"}]}]}})",
         R"({"model":"x"})"},
        {"the user's group stays",
         R"({"hooks":{"Stop":[{"hooks":[{"command":"mine"}]},{"command":"/a/PERCHWELL hook"}]}})",
         R"({"hooks":{"Stop":[{"hooks":[{"command":"mine"}]}]}})"},
        {"an array of hooks is left alone", R"({"hooks":[{"command":"/a/perchwell hook"}]})",
         R"({"hooks":[{"command":"/a/perchwell hook"}]})"},
        {"an event of another kind is left alone", R"({"hooks":{"Stop":"perchwell"}})",
         R"({"hooks":{"Stop":"perchwell"}})"},
    };
    for (const auto& c : cases) {
        writeFile(path, c.before);
        ASSERT_TRUE(HookInstaller::uninstall()) << c.name;
        EXPECT_EQ(installed(), parse(c.after)) << c.name << ": " << readFile(path);
    }
}

TEST_F(HookInstallerTest, UninstallNeverCreatesAFile) {
    ASSERT_TRUE(HookInstaller::uninstall());
    struct stat st {};
    EXPECT_NE(::stat(path.c_str(), &st), 0);
}

TEST_F(HookInstallerTest, InstallReplacesAHooksMemberOfAnotherKind) {
    writeFile(path, R"({"hooks": [1, 2]})");
    ASSERT_TRUE(HookInstaller::install("/opt/pw"));
    EXPECT_EQ(commandsOf(installed(), "Stop"), std::vector<std::string>{ourCommand});
}

TEST_F(HookInstallerTest, AFileThatCannotBeReadIsNeverWritten) {
    const struct {
        const char* name;
        const char* text;
        const char* expected; // part of the error
    } cases[] = {
        {"stray comma", "{\n  \"model\": \"opus\",\n}\n", "settings.json: line 3:"},
        {"not an object", "[1, 2]", "not a JSON object"},
        {"truncated", "{\"hooks\": {", "line 1:"},
    };
    for (const auto& c : cases) {
        writeFile(path, c.text);
        for (const auto& result : {HookInstaller::install("/opt/pw"), HookInstaller::uninstall()}) {
            ASSERT_FALSE(result) << c.name;
            EXPECT_NE(result.error().message.find(c.expected), std::string::npos) << result.error().message;
            EXPECT_NE(result.error().message.find(path), std::string::npos) << result.error().message;
        }
        EXPECT_EQ(readFile(path), c.text) << c.name;
        struct stat st {};
        EXPECT_NE(::stat((path + ".bak").c_str(), &st), 0) << c.name;
    }
}

TEST_F(HookInstallerTest, EveryWriteKeepsThePreviousFileAndItsPermissions) {
    const std::string original = R"({"model": "opus"})";
    writeFile(path, original);
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(HookInstaller::install("/opt/pw"));
    EXPECT_EQ(readFile(path + ".bak"), original);
    const std::string afterInstall = readFile(path);
    ASSERT_TRUE(HookInstaller::uninstall());
    EXPECT_EQ(readFile(path + ".bak"), afterInstall);
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

TEST_F(HookInstallerTest, ASymlinkedSettingsFileStaysALink) {
    const std::string target = home.path() + "/dotfiles/claude-settings.json";
    writeFile(target, R"({"model": "opus"})");
    ASSERT_EQ(::mkdir((home.path() + "/.claude").c_str(), 0755), 0);
    ASSERT_EQ(::symlink(target.c_str(), path.c_str()), 0);
    ASSERT_TRUE(HookInstaller::install("/opt/pw"));
    struct stat st {};
    ASSERT_EQ(::lstat(path.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_EQ(commandsOf(parse(readFile(target)), "Stop"), std::vector<std::string>{ourCommand});
}

TEST_F(HookInstallerTest, ClaudeConfigDirIsHonoured) {
    const std::string dir = home.path() + "/elsewhere";
    ::setenv("CLAUDE_CONFIG_DIR", dir.c_str(), 1);
    const auto result = HookInstaller::install("/opt/pw");
    ::unsetenv("CLAUDE_CONFIG_DIR");
    ASSERT_TRUE(result);
    EXPECT_EQ(result->settingsPath, dir + "/settings.json");
    EXPECT_EQ(commandsOf(parse(readFile(dir + "/settings.json")), "Stop"),
              std::vector<std::string>{ourCommand});
}

TEST(HookInstallerRecognitionTest, OurEntriesAreFoundByTheProgramNameInAnyCase) {
    const struct {
        const char* settings;
        bool found;
    } cases[] = {
        {R"({"hooks":{"PreToolUse":[{"hooks":[{"command":"/X/PERCHWELL hook"}]}]}})", true},
        {R"({"hooks":{"Stop":[{"command":"/x/Perchwell hook"}]}})", true},
        {R"({"hooks":{"SessionStart":[{"command":"/x/perchwell hook"}]}})", false}, // not one of our events
        {R"({"hooks":{"Stop":[{"hooks":[{"command":42}]}]}})", false},
        {R"({"hooks":{"Stop":[{"hooks":"perchwell"}]}})", false},
        {R"({"hooks":{"Stop":[{"hooks":[{"command":"other"}]}, 3]}})", false},
        {R"({"hooks":[{"command":"perchwell"}]})", false},
        {R"({})", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HookInstaller::findAnyPerchwellEntry(parse(c.settings)), c.found) << c.settings;
    }
}

// Claude Code runs the command through /bin/sh: every path must reach the program unchanged.
TEST(HookInstallerCommandTest, PathsSurviveTheShell) {
    for (const std::string dir : {"/opt/pw", "/home/a b/bin", "/tmp/$HOME/`x`/\"q\"/back\\slash"}) {
        const auto result = testing::runProcess(
            {"/bin/sh", "-c", "printf '%s\\n' " + HookInstaller::shellQuote(dir + "/perchwell")});
        EXPECT_EQ(result.out, dir + "/perchwell\n") << HookInstaller::shellQuote(dir);
    }
    EXPECT_EQ(HookInstaller::hookCommand("/opt/pw"), ourCommand);
}

} // namespace
} // namespace perchwell
