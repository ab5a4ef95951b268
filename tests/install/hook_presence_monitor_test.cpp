#include "app/app_delegate.h"
#include "hooks/hook_installer.h"
#include "hooks/hooks_cli.h"
#include "install/hook_presence_monitor.h"
#include "install/scripted_installation_ui.h"
#include "platform/linux/systemctl_runner.h"
#include "platform/paths.h"
#include "platform/service_manager_runner.h"
#include "state/settings_store.h"
#include "support/log_capture.h"
#include "support/temp_home.h"

#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::LogCapture;

long count(const std::vector<std::string>& lines, const std::string& line) {
    return std::count(lines.begin(), lines.end(), line);
}

TEST(HookPresenceMonitorTest, SaysOnceWhenTheHookIsMissingAndAgainWhenItVanishes) {
    testing::TempHome home;
    LogCapture logs;
    const std::string path = HookInstaller::settingsPath();
    const std::string missing = HookPresenceMonitor::missingLine(path, "perchwell hooks install");
    HookPresenceMonitor monitor("perchwell hooks install");
    QSignalSpy changes(&monitor, &HookPresenceMonitor::installedChanged);

    monitor.start();
    EXPECT_EQ(monitor.installed(), false);
    EXPECT_EQ(count(logs.systemLines(), missing), 1);

    // Claude Code creates its directory and file later; the hook goes in.
    ASSERT_TRUE(HookInstaller::install("/opt/pw"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return monitor.installed() == true; }, 10000));

    // Rewritten without "hooks" (replaced, as Claude Code does): said again, once.
    testing::writeFile(path + ".new", R"({"model": "opus"})");
    ASSERT_EQ(::rename((path + ".new").c_str(), path.c_str()), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return monitor.installed() == false; }, 10000));
    testing::writeFile(path, R"({"model": "sonnet"})"); // still missing: not repeated
    QTest::qWait(600);
    EXPECT_EQ(count(logs.systemLines(), missing), 2);
    EXPECT_EQ(changes.count(), 3);
}

TEST(HookPresenceMonitorTest, AnUnreadableFileIsReportedNotTakenForMissing) {
    testing::TempHome home;
    LogCapture logs;
    testing::writeFile(HookInstaller::settingsPath(), "{,");
    HookPresenceMonitor monitor("fix");
    monitor.start();
    EXPECT_FALSE(monitor.installed().has_value());
    ASSERT_EQ(logs.systemLines().size(), 1u);
    EXPECT_NE(logs.systemLines()[0].find("cannot tell whether the Claude Code hook is installed: " +
                                         HookInstaller::settingsPath() + ": line 1:"),
              std::string::npos);
}

class NeverActiveRunner final : public ServiceManagerRunner {
public:
    int run(const std::vector<std::string>&) override { return 3; }
};

// The launch gate, run from the test's build directory (not an install prefix).
class InstallationGateTest : public ::testing::Test {
protected:
    LaunchOptions options(std::vector<std::string> arguments, bool withUi) {
        LaunchOptions o;
        o.arguments = std::move(arguments);
        o.headless = true;
        o.serviceManager = &runner;
        o.installationUi = withUi ? &ui : nullptr;
        return o;
    }

    testing::TempHome home;
    LogCapture logs;
    NeverActiveRunner runner;
    testing::ScriptedUi ui;
    SettingsStore store{Paths::defaultsFile(), nullptr};
};

TEST_F(InstallationGateTest, NotNowLaunchesAndTellsWhatIsLeftToDo) {
    ui.accept = false;
    AppDelegate delegate(options({"perchwell", "--headless"}, true), &store);
    delegate.applicationDidFinishLaunching();
    EXPECT_EQ(ui.prompts.size(), 1u);
    EXPECT_TRUE(delegate.launched());
    ASSERT_NE(delegate.hookPresence(), nullptr);
    EXPECT_EQ(delegate.hookPresence()->installed(), false);
    const std::string fix = HooksCli::fixCommand(Paths::executableDirectory());
    EXPECT_EQ(count(logs.systemLines(), HookPresenceMonitor::missingLine(HookInstaller::settingsPath(), fix)),
              1);
    delegate.applicationWillTerminate();
}

TEST_F(InstallationGateTest, AFailedInstallIsShownAndTheLaunchGoesOn) {
    // This directory holds no perchwell to copy.
    AppDelegate delegate(options({"perchwell"}, true), &store);
    delegate.applicationDidFinishLaunching();
    ASSERT_EQ(ui.failures.size(), 1u);
    EXPECT_EQ(ui.failures[0].rfind("Could not copy Perchwell to " + home.path() + "/.local: cannot read ", 0),
              0u);
    EXPECT_TRUE(ui.launched.empty());
    EXPECT_TRUE(delegate.launched());
    delegate.applicationWillTerminate();
}

TEST_F(InstallationGateTest, UiTestingAndHeadlessWithoutUiOfferNothing) {
    for (bool withUi : {true, false}) {
        std::vector<std::string> arguments{"perchwell", "--headless"};
        if (withUi) {
            arguments.push_back("--uitesting");
        }
        AppDelegate delegate(options(arguments, withUi), &store);
        delegate.applicationDidFinishLaunching();
        EXPECT_TRUE(delegate.launched());
        delegate.applicationWillTerminate();
    }
    EXPECT_TRUE(ui.prompts.empty());
    const auto lines = logs.systemLines();
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string& line) {
                                return line.find("outside an install prefix") != line.npos;
                            }),
              1);
}

} // namespace
} // namespace perchwell
