#include "app/app_delegate.h"
#include "app/instance_lock.h"
#include "app/launch_agent_manager.h"
#include "assist/idle_continue_tracker.h"
#include "companion/notification_bus.h"
#include "hooks/hook_socket_server.h"
#include "keepalive/agent_keepalive_controller.h"
#include "platform/paths.h"
#include "platform/service_manager_runner.h"
#include "state/coordinator.h"
#include "state/settings_store.h"
#include "support/keepalive_fakes.h"
#include "support/log_capture.h"
#include "support/store_fixture.h"
#include "support/temp_home.h"
#include "views/dashboard/dashboard_view.h"
#include "views/settings/settings_view.h"
#include "workflow/workflow_watcher.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::LogCapture;

class RecordingRunner final : public ServiceManagerRunner {
public:
    int run(const std::vector<std::string>& arguments) override {
        calls.push_back(arguments);
        return arguments.front() == "is-active" ? activeStatus : 0;
    }
    int activeStatus = 3;
    std::vector<std::vector<std::string>> calls;
};

class AppDelegateTest : public ::testing::Test {
protected:
    LaunchOptions options(std::vector<std::string> extra = {}) {
        LaunchOptions o;
        o.arguments = {"perchwell", "--headless"};
        o.arguments.insert(o.arguments.end(), extra.begin(), extra.end());
        o.headless = true;
        o.serviceManager = &runner;
        // Nothing here may take a real inhibitor or show a real notification.
        o.powerAssertions = power;
        o.lidSwitchGuardian = std::make_shared<testing::FakeLidSwitchGuardian>();
        o.notifications = std::make_shared<testing::FakeDesktopNotifications>();
        return o;
    }
    void installUnit() { testing::writeFile(LaunchAgentManager::unitPath(), "[Service]\n"); }
    bool contains(const std::vector<std::string>& lines, const std::string& line) {
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    testing::TempHome home;
    LogCapture logs;
    RecordingRunner runner;
    std::shared_ptr<testing::FakePowerAssertions> power = std::make_shared<testing::FakePowerAssertions>();
    SettingsStore store{Paths::defaultsFile(), nullptr};
};

TEST_F(AppDelegateTest, HandOverToTheManagedInstanceBuildsNothing) {
    installUnit();
    AppDelegate delegate(options(), &store);
    delegate.applicationDidFinishLaunching();
    EXPECT_FALSE(delegate.launched());
    EXPECT_EQ(delegate.exitCode(), 0);
    EXPECT_EQ(delegate.hookServer(), nullptr);
    EXPECT_EQ(delegate.coordinator(), nullptr);
    EXPECT_TRUE(
        contains(logs.systemLines(), "[Perchwell] yielding to launchd-managed instance after bootstrap"));
    // Quitting after a hand-over must not stop the instance it just started.
    const auto callsBefore = runner.calls.size();
    delegate.applicationWillTerminate();
    EXPECT_EQ(runner.calls.size(), callsBefore);
    // Nor does it take the lock the managed instance needs.
    EXPECT_TRUE(InstanceLock::acquire());
}

TEST_F(AppDelegateTest, UiTestingSkipsTheHandOver) {
    installUnit();
    AppDelegate delegate(options({"--uitesting"}), &store);
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(delegate.launched());
    EXPECT_TRUE(runner.calls.empty());
}

TEST_F(AppDelegateTest, SecondInstanceLeavesWithoutTouchingTheFirstOnesSocket) {
    auto held = InstanceLock::acquire();
    ASSERT_TRUE(held);
    testing::writeFile(HookSocketServer::defaultSocketPath(), "the first instance's");
    AppDelegate delegate(options(), &store);
    delegate.applicationDidFinishLaunching();
    EXPECT_FALSE(delegate.launched());
    EXPECT_EQ(delegate.hookServer(), nullptr);
    EXPECT_EQ(testing::readFile(HookSocketServer::defaultSocketPath()), "the first instance's");
}

TEST_F(AppDelegateTest, UnusableLockFileDoesNotStopTheLaunch) {
    testing::writeFile(home.path() + "/blocker", "a file where the directory should be");
    auto o = options();
    o.instanceLockPath = home.path() + "/blocker/perchwell.lock";
    AppDelegate delegate(std::move(o), &store);
    delegate.applicationDidFinishLaunching();
    EXPECT_TRUE(delegate.launched());
    ASSERT_NE(delegate.hookServer(), nullptr);
    EXPECT_TRUE(delegate.hookServer()->running());
}

TEST_F(AppDelegateTest, LaunchAndTeardownOfTheCoreComponents) {
    installUnit();
    runner.activeStatus = 0; // already managed: carry on, and stop it at quit
    AppDelegate delegate(options(), &store);
    QSignalSpy finished(&delegate, &AppDelegate::launchFinished);
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(delegate.launched());
    EXPECT_EQ(finished.count(), 1);
    ASSERT_NE(delegate.hookServer(), nullptr);
    EXPECT_TRUE(delegate.hookServer()->running());
    ASSERT_NE(delegate.workflowStore(), nullptr);
    EXPECT_TRUE(std::filesystem::exists(Paths::dataFile("workflow.db")));
    // The coordinator shows its state once the launch sequence has returned.
    EXPECT_EQ(logs.count("coord", "watcher active (hook + workflow mode)"), 0u);
    QCoreApplication::processEvents();
    EXPECT_EQ(logs.count("coord", "watcher active (hook + workflow mode)"), 1u);

    delegate.applicationWillTerminate();
    EXPECT_EQ(runner.calls.back(), (std::vector<std::string>{"stop", "--no-block", "perchwell.service"}));
    EXPECT_EQ(delegate.hookServer(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(HookSocketServer::defaultSocketPath()));
    EXPECT_EQ(logs.count("hook-sock", "stopped"), 1u);
}

TEST_F(AppDelegateTest, LaunchLogsTheCameraStatusAndBuildsTheEyeBreak) {
    AppDelegate delegate(options(), &store);
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(delegate.launched());
    const std::string prefix = "[Perchwell] launch: camera authorization status = ";
    const auto lines = logs.systemLines();
    const bool logged = std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        return l.rfind(prefix, 0) == 0 &&
               l.substr(prefix.size() + 1) == " (0=notDetermined, 1=restricted, 2=denied, 3=authorized)";
    });
    EXPECT_TRUE(logged);
    EXPECT_NE(delegate.eyeExercise(), nullptr);
}

TEST_F(AppDelegateTest, UnopenableWorkflowStoreLeavesTheRestRunning) {
    std::filesystem::create_directories(Paths::dataFile("workflow.db")); // a directory where the file goes
    AppDelegate delegate(options(), &store);
    delegate.applicationDidFinishLaunching();
    ASSERT_TRUE(delegate.launched());
    EXPECT_EQ(delegate.workflowStore(), nullptr);
    EXPECT_EQ(delegate.workflowWatcher(), nullptr);
    const auto lines = logs.systemLines();
    const bool logged = std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("[Perchwell] WorkflowStore init failed: ", 0) == 0 &&
               l.find(" — dashboard will be unavailable") != std::string::npos;
    });
    EXPECT_TRUE(logged);
    EXPECT_TRUE(delegate.hookServer()->running());
    EXPECT_EQ(delegate.idleTracker(), nullptr);
    EXPECT_EQ(delegate.promptEnhancer(), nullptr);

    for (int i = 0; i < 2; ++i) {
        delegate.openDashboard(); // logged every time, never an empty window
    }
    EXPECT_EQ(delegate.dashboardWindow(), nullptr);
    const auto after = logs.systemLines();
    EXPECT_EQ(std::count(after.begin(), after.end(),
                         "[Perchwell] openDashboard: workflowStore is nil — refusing to open empty window"),
              2);
}

TEST_F(AppDelegateTest, DashboardOpensOnceAndIsOnlyBroughtBackAfterwards) {
    AppDelegate delegate(options(), &store);
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.workflowStore(), nullptr);
    delegate.openDashboard();
    QWidget* window = delegate.dashboardWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Receipts");
    EXPECT_EQ(window->size(), QSize(720, 800));
    window->close();
    delegate.openDashboard();
    EXPECT_EQ(delegate.dashboardWindow(), window) << "a closed window is shown again, not rebuilt";
    EXPECT_TRUE(window->isVisible());
    delegate.applicationWillTerminate();
}

TEST_F(AppDelegateTest, IdleTrackerFollowsLivePromptsAndTheThresholdSetting) {
    const std::string transcript =
        Paths::claudeDirectory() + "/projects/-home-u-proj/0f1e2d3c-aaaa-bbbb-cccc-000000000003.jsonl";
    const std::string session = "0f1e2d3c-aaaa-bbbb-cccc-000000000003";
    const auto prompt = [&](const std::string& uuid) {
        return R"({"type":"user","uuid":")" + uuid + R"(","sessionId":")" + session +
               R"(","timestamp":"2026-12-06T10:00:00Z","cwd":"/home/u/proj","message":{"role":"user","content":"go"}})" +
               "\n";
    };
    testing::writeFile(transcript, prompt("old"));
    store.setAutoContinueIdleSeconds(90);
    AppDelegate delegate(options(), &store);
    delegate.applicationDidFinishLaunching();
    IdleContinueTracker* tracker = delegate.idleTracker();
    ASSERT_NE(tracker, nullptr);
    EXPECT_NE(delegate.promptEnhancer(), nullptr);
    EXPECT_TRUE(tracker->isChecking());
    EXPECT_EQ(tracker->idleThreshold, 90);
    store.setAutoContinueIdleSeconds(15);
    EXPECT_EQ(tracker->idleThreshold, 15);

    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.workflowWatcher()->watchState().files == 1; }, 10000));
    EXPECT_EQ(tracker->lastCwd(session), std::nullopt) << "history is not live work";
    {
        std::ofstream out(transcript, std::ios::app);
        out << prompt("new");
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return tracker->lastCwd(session).has_value(); }, 10000));
    EXPECT_EQ(tracker->lastCwd(session), "/home/u/proj");
    delegate.applicationWillTerminate();
}

TEST_F(AppDelegateTest, WatcherRecordsArriveOnTheMainThread) {
    const std::string transcript =
        Paths::claudeDirectory() + "/projects/-home-u-proj/0f1e2d3c-aaaa-bbbb-cccc-000000000002.jsonl";
    const auto line = [](const std::string& uuid, const std::string& type) {
        return R"({"type":")" + type + R"(","uuid":")" + uuid +
               R"(","sessionId":"0f1e2d3c-aaaa-bbbb-cccc-000000000002","timestamp":"2026-12-06T10:00:00Z",)" +
               R"("message":{"role":")" + type + R"(","content":"hello"}})" + "\n";
    };
    testing::writeFile(transcript, line("old", "user"));
    AppDelegate delegate(options(), &store);
    std::vector<std::string> seen;
    std::vector<QThread*> threads;
    QObject::connect(&delegate, &AppDelegate::userPromptIngested, [&](const UserEntry& entry) {
        seen.push_back("user:" + entry.uuid);
        threads.push_back(QThread::currentThread());
    });
    QObject::connect(&delegate, &AppDelegate::assistantIngested, [&](const AssistantEntry& entry) {
        seen.push_back("assistant:" + entry.uuid);
        threads.push_back(QThread::currentThread());
    });
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.workflowWatcher(), nullptr);
    // History read at start is not reported; what is appended afterwards is.
    ASSERT_TRUE(QTest::qWaitFor([&] { return delegate.workflowWatcher()->watchState().files == 1; }, 10000));
    {
        std::ofstream out(transcript, std::ios::app);
        out << line("new-1", "user") << line("new-2", "assistant");
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return seen.size() == 2; }, 10000));
    EXPECT_EQ(seen, (std::vector<std::string>{"user:new-1", "assistant:new-2"}));
    for (QThread* thread : threads) {
        EXPECT_EQ(thread, QCoreApplication::instance()->thread());
    }
    delegate.applicationWillTerminate();
}

TEST(AppDelegateSettingsWindowTest, SettingsWindowOpensOnceOnTheRequestedTabAndIsOnlyRaisedAfterwards) {
    testing::StoreFixture fixture;
    LaunchOptions options;
    options.arguments = {"perchwell", "--uitesting"};
    AppDelegate delegate(options, &fixture.store);
    EXPECT_EQ(delegate.settingsWindow(), nullptr);

    delegate.openSettings(true);
    QWidget* window = delegate.settingsWindow();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle(), "Perchwell");
    EXPECT_EQ(window->size(), QSize(540, 620));
    auto* view = qobject_cast<SettingsView*>(window);
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->currentTab(), SettingsTab::permissions);

    view->showTab(SettingsTab::about);
    window->close();
    delegate.openSettings(false);
    EXPECT_EQ(delegate.settingsWindow(), window) << "a closed window is shown again, not rebuilt";
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(view->currentTab(), SettingsTab::about) << "reopening keeps the tab it was left on";
}

TEST_F(AppDelegateTest, IngestedRecordsCommandsAndSettingsReachTheKeepaliveAndQuitReleasesIt) {
    AppDelegate delegate(options(), &store);
    delegate.applicationDidFinishLaunching();
    ASSERT_NE(delegate.agentKeepalive(), nullptr);
    ASSERT_NE(delegate.runNotifier(), nullptr);
    const auto released = [&](const std::string& reason) {
        return logs.count("workflow.keepalive", "power assertion released kind=idle id=" +
                                                    std::to_string(power->created.end()[-2].id) +
                                                    " reason=" + reason);
    };

    UserEntry prompt;
    prompt.sessionId = "0f1e2d3c-aaaa-bbbb-cccc-000000000001";
    emit delegate.userPromptIngested(prompt);
    ASSERT_EQ(power->created.size(), 2u);
    EXPECT_EQ(logs.count("workflow.keepalive", "power assertion acquired kind=idle id=1 source=user"), 1u);
    EXPECT_TRUE(store.agentKeepaliveActive());

    // The menu's commands arrive through the notification bus.
    NotificationBus::shared().post(NotificationBus::agentKeepaliveStopRequested);
    EXPECT_EQ(released("stop"), 1u);
    NotificationBus::shared().post(NotificationBus::agentKeepaliveStartRequested);
    EXPECT_EQ(store.agentKeepaliveReason(), "Vuve Vurer Mode");
    // A settings change reaches it too.
    store.setAgentKeepalive(false);
    EXPECT_EQ(released("settings changed"), 1u);
    AssistantEntry turn;
    turn.sessionId = "0f1e2d3c";
    store.setAgentKeepalive(true);
    emit delegate.assistantIngested(turn);
    EXPECT_EQ(logs.count("workflow.keepalive", "power assertion acquired kind=idle id=5 source=assistant"),
              1u);

    delegate.applicationWillTerminate();
    EXPECT_EQ(released("stop"), 1u);
    EXPECT_TRUE(power->held.empty());
    EXPECT_EQ(delegate.agentKeepalive(), nullptr);
    EXPECT_FALSE(store.agentKeepaliveActive());
    // The observers went with it.
    NotificationBus::shared().post(NotificationBus::agentKeepaliveStartRequested);
    EXPECT_EQ(power->created.size(), 6u);
}

} // namespace
} // namespace perchwell
