#include "app/launch_agent_manager.h"
#include "common/system_log.h"
#include "platform/linux/systemctl_runner.h"
#include "platform/service_manager_runner.h"
#include "support/temp_home.h"

#include <deque>
#include <filesystem>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

// Answers each call with the next scripted status and records the arguments.
class ScriptedRunner final : public ServiceManagerRunner {
public:
    int run(const std::vector<std::string>& arguments) override {
        calls.push_back(arguments);
        if (statuses.empty()) {
            return 0;
        }
        const int status = statuses.front();
        statuses.pop_front();
        return status;
    }
    std::deque<int> statuses;
    std::vector<std::vector<std::string>> calls;
};

using Calls = std::vector<std::vector<std::string>>;
const std::vector<std::string> print{"is-active", "--quiet", "perchwell.service"};
const std::vector<std::string> bootstrap{"start", "perchwell.service"};
const std::vector<std::string> bootout{"stop", "--no-block", "perchwell.service"};

class LaunchAgentManagerTest : public ::testing::Test {
protected:
    LaunchAgentManagerTest() {
        systemlog::setSink([this](std::string_view line) { lines.emplace_back(line); });
    }
    ~LaunchAgentManagerTest() override { systemlog::setSink({}); }
    void installUnit() {
        testing::writeFile(LaunchAgentManager::unitPath(), "[Service]\nExecStart=perchwell\n");
    }

    testing::TempHome home;
    ScriptedRunner runner;
    std::vector<std::string> lines;
};

TEST_F(LaunchAgentManagerTest, WithoutAUnitNothingIsEverRun) {
    EXPECT_FALSE(LaunchAgentManager::ensureLoaded(runner));
    LaunchAgentManager::bootoutForQuit(runner);
    EXPECT_TRUE(runner.calls.empty());
    EXPECT_TRUE(lines.empty());
}

// The package's unit lives in /usr/lib/systemd/user; enabling it links it into a
// .wants directory of the user's configuration, which the hand-over recognises.
TEST_F(LaunchAgentManagerTest, AnEnabledPackagedUnitIsRecognised) {
    const std::string packaged = home.path() + "/usr-lib-systemd-user/perchwell.service";
    testing::writeFile(packaged, "[Service]\nExecStart=/usr/bin/perchwell --headless\n");
    const std::string wants = home.path() + "/.config/systemd/user/default.target.wants";
    std::filesystem::create_directories(wants);
    std::filesystem::create_symlink(packaged, wants + "/other.service");
    EXPECT_FALSE(LaunchAgentManager::ensureLoaded(runner)) << "another unit is not ours";
    EXPECT_TRUE(runner.calls.empty());
    std::filesystem::create_symlink(packaged, wants + "/perchwell.service");
    runner.statuses = {3, 0};
    EXPECT_TRUE(LaunchAgentManager::ensureLoaded(runner));
    EXPECT_EQ(runner.calls, (Calls{print, bootstrap}));
}

TEST_F(LaunchAgentManagerTest, HandOverDecisions) {
    const struct {
        std::deque<int> statuses;
        bool handsOver;
        Calls calls;
        std::vector<std::string> lines;
    } cases[] = {
        // Already running: this instance carries on, nothing is started.
        {{0}, false, {print}, {}},
        // Not running: start it and hand over.
        {{3, 0}, true, {print, bootstrap}, {"[Perchwell] launchagent: bootstrap status=0"}},
        // Start failed: only logged, carry on.
        {{3, 5}, false, {print, bootstrap}, {"[Perchwell] launchagent: bootstrap status=5"}},
        // Tool missing: both runs report -1.
        {{-1, -1}, false, {print, bootstrap}, {"[Perchwell] launchagent: bootstrap status=-1"}},
    };
    installUnit();
    for (const auto& c : cases) {
        runner.statuses = c.statuses;
        runner.calls.clear();
        lines.clear();
        EXPECT_EQ(LaunchAgentManager::ensureLoaded(runner), c.handsOver);
        EXPECT_EQ(runner.calls, c.calls);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST_F(LaunchAgentManagerTest, BootoutOnlyWhenRunningAndOnlyLogged) {
    installUnit();
    runner.statuses = {3};
    LaunchAgentManager::bootoutForQuit(runner);
    EXPECT_EQ(runner.calls, Calls{print});
    EXPECT_TRUE(lines.empty());

    runner.calls.clear();
    runner.statuses = {0, 1};
    LaunchAgentManager::bootoutForQuit(runner);
    EXPECT_EQ(runner.calls, (Calls{print, bootout}));
    EXPECT_EQ(lines, std::vector<std::string>{"[Perchwell] launchagent: bootout status=1"});
}

} // namespace
} // namespace perchwell

namespace perchwell {
namespace {

TEST(SystemctlRunnerTest, ReportsExitStatusAndSpawnFailure) {
    testing::TempHome home;
    std::vector<std::string> lines;
    systemlog::setSink([&](std::string_view line) { lines.emplace_back(line); });
    // A stand-in tool: echoes its arguments' count as the status, after a flood of output
    // that would fill any pipe nobody reads.
    const std::string tool = home.path() + "/fake-systemctl";
    testing::writeFile(tool, "#!/bin/sh\nhead -c 1000000 /dev/zero\nhead -c 1000000 /dev/zero >&2\n"
                             "[ \"$1\" = --user ] || exit 99\nexit $#\n");
    std::filesystem::permissions(tool, std::filesystem::perms::owner_all);
    EXPECT_EQ(SystemctlRunner(tool).run({"is-active", "--quiet", "perchwell.service"}), 4);
    EXPECT_TRUE(lines.empty());

    EXPECT_EQ(SystemctlRunner(home.path() + "/missing-tool").run({"start", "perchwell.service"}), -1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].rfind("[Perchwell] launchctl spawn failed: ", 0), 0u) << lines[0];
    systemlog::setSink({});
}

} // namespace
} // namespace perchwell
