// The D-Bus backends against stand-in services on a private bus that plays both the
// system and the session bus: logind inhibitors, the desktop's idle inhibit, and the
// notification service behind the run notifier.
#include "keepalive/agent_keepalive_controller.h"
#include "keepalive/guardian_shell.h"
#include "keepalive/run_notifier.h"
#include "platform/linux/freedesktop_notifications.h"
#include "platform/linux/logind_power_assertions.h"
#include "platform/linux/systemd_inhibit_guardian.h"
#include "support/log_capture.h"
#include "support/private_bus.h"
#include "support/process.h"
#include "support/store_fixture.h"
#include "support/wait_for.h"

#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>

namespace perchwell {
namespace {

using namespace std::chrono_literals;
using testing::readFile;
using testing::waitFor;

class DbusBackendsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        bus = new testing::PrivateBus;
        // Before this process's first bus connection, which stays for its whole life.
        bus->exportAsSystemAndSessionBus();
    }
    static void TearDownTestSuite() {
        delete bus;
        bus = nullptr;
    }
    void SetUp() override {
        if (bus->address().empty()) {
            GTEST_SKIP() << "dbus-daemon could not be started";
        }
    }

    // A stand-in service, running once it owns its name.
    std::unique_ptr<testing::BackgroundProcess> serve(const std::string& mode, const std::string& log,
                                                      const std::string& option = {}) {
        std::vector<std::string> argv = {testing::binaryPath("pv-fake-dbus-service"), mode, log};
        if (!option.empty()) {
            argv.push_back(option);
        }
        auto service = std::make_unique<testing::BackgroundProcess>(argv);
        EXPECT_TRUE(waitFor([&] { return readFile(log).find("ready\n") != std::string::npos; }, 10s))
            << readFile(log);
        return service;
    }
    static size_t count(const std::string& text, const std::string& part) {
        size_t n = 0;
        for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
            ++n;
        }
        return n;
    }

    static inline testing::PrivateBus* bus = nullptr;
    testing::StoreFixture fixture;
    std::string logindLog = fixture.home.path() + "/logind.log";
    std::string sessionLog = fixture.home.path() + "/session.log";
};

TEST_F(DbusBackendsTest, EachKindTakesAnIdleBlockInhibitorHeldUntilReleased) {
    auto logind = serve("logind", logindLog);
    auto session = serve("power-management", sessionLog);
    auto assertions = std::make_unique<LogindPowerAssertions>();

    auto idle =
        assertions->create(AssertionKind::idleSystem, "Perchwell Agent Keepalive: manual Vuve Vurer Mode");
    auto network = assertions->create(AssertionKind::networkClient, "Perchwell Agent Keepalive: x");
    ASSERT_TRUE(idle) << idle.error().message;
    ASSERT_TRUE(network) << network.error().message;
    std::string seen = readFile(logindLog);
    EXPECT_EQ(count(seen, "what=idle who=Perchwell mode=block why=Perchwell Agent Keepalive: "), 2u) << seen;
    EXPECT_NE(seen.find("why=Perchwell Agent Keepalive: manual Vuve Vurer Mode (idle sleep)"),
              std::string::npos);
    EXPECT_EQ(seen.find("closed"), std::string::npos) << "held while holding";
    // systemd's own tool lists them as it would under a real logind.
    const auto listed = testing::runProcess({"/bin/sh", "-c", "systemd-inhibit --list"});
    if (listed.exitCode != 127) {
        EXPECT_EQ(count(listed.out, "\nPerchwell "), 2u) << listed.out << listed.err;
        EXPECT_NE(listed.out.find("2 inhibitors listed."), std::string::npos) << listed.out;
    }
    // The desktop's own idle timer is covered once, by the idle kind.
    EXPECT_EQ(count(readFile(sessionLog), "session-inhibit cookie=1 app=Perchwell"), 1u)
        << readFile(sessionLog);

    ASSERT_TRUE(assertions->release(*idle));
    EXPECT_TRUE(waitFor([&] { return readFile(logindLog).find("closed id=1\n") != std::string::npos; }, 10s));
    EXPECT_NE(readFile(sessionLog).find("session-uninhibit cookie=1"), std::string::npos);
    EXPECT_EQ(readFile(logindLog).find("closed id=2"), std::string::npos);
    EXPECT_FALSE(assertions->release(*idle)) << "an id is released once";

    // Whatever is still held goes with the backend (as it goes with the process).
    assertions.reset();
    EXPECT_TRUE(waitFor([&] { return readFile(logindLog).find("closed id=2\n") != std::string::npos; }, 10s));
    EXPECT_EQ(readFile(logindLog).find("what=sleep"), std::string::npos);
}

TEST_F(DbusBackendsTest, ARefusedOrMissingLogindLeavesTheKeepaliveUnavailable) {
    struct Case {
        const char* name;
        bool running;
        const char* error;
    };
    const Case cases[] = {{"refused", true, "org.freedesktop.DBus.Error.AccessDenied: Permission denied"},
                          {"missing", false, "org.freedesktop.DBus.Error.ServiceUnknown"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto logind = c.running ? serve("logind", logindLog, "refuse") : nullptr;
        testing::LogCapture logs;
        auto power = std::make_shared<LogindPowerAssertions>();
        AgentKeepaliveController keepalive(fixture.store, power, nullptr);
        for (int i = 0; i < 3; ++i) {
            keepalive.recordActivity("0f1e2d3c-aaaa", "assistant");
        }
        EXPECT_FALSE(fixture.store.agentKeepaliveActive());
        EXPECT_FALSE(keepalive.holding());
        EXPECT_NE(keepalive.unavailableReason().toStdString().find(c.error), std::string::npos)
            << keepalive.unavailableReason().toStdString();
        size_t warnings = 0;
        for (const auto& record : logs.records()) {
            warnings += record.level == LogLevel::warning && record.category == "workflow.keepalive";
        }
        EXPECT_EQ(warnings, 1u) << "the reason is logged once";
    }
}

// The guardian under systemd's real systemd-inhibit, which asks the stand-in logind.
TEST_F(DbusBackendsTest, TheRealSystemdInhibitHoldsTheLidSwitchWhileTheGuardianRuns) {
    if (testing::runProcess({"/bin/sh", "-c", "command -v systemd-inhibit"}).exitCode != 0) {
        GTEST_SKIP() << "systemd-inhibit is not installed";
    }
    auto logind = serve("logind", logindLog);
    const std::string deadline = fixture.home.path() + "/closedlid-until";
    testing::writeFile(deadline, std::to_string(QDateTime::currentSecsSinceEpoch() + 600) + "\n");
    auto outcome = SystemdInhibitGuardian().arm(lidGuardianLoop(deadline, 1));
    ASSERT_TRUE(outcome.ok) << outcome.message;
    EXPECT_NE(readFile(logindLog).find("inhibit id=1 what=handle-lid-switch who=Perchwell mode=block why=" +
                                       std::string(SystemdInhibitGuardian::why)),
              std::string::npos)
        << readFile(logindLog);
    QTest::qWait(1500);
    EXPECT_EQ(readFile(logindLog).find("closed"), std::string::npos) << "held while the deadline lies ahead";
    testing::writeFile(deadline, "0\n");
    EXPECT_TRUE(waitFor([&] { return readFile(logindLog).find("closed id=1") != std::string::npos; }, 10s));
    EXPECT_FALSE(std::filesystem::exists(deadline));

    logind.reset();
    // A log of its own: the first one already says "ready".
    logind = serve("logind", logindLog + ".refusing", "refuse");
    outcome = SystemdInhibitGuardian().arm(lidGuardianLoop(deadline, 1));
    EXPECT_FALSE(outcome.ok);
    EXPECT_EQ(outcome.message, "Failed to inhibit: Access denied");
}

TEST_F(DbusBackendsTest, ALongHoldEndsWithOneNotificationAShortOneWithNone) {
    const std::string notifyLog = fixture.home.path() + "/notify.log";
    auto service = serve("notifications", notifyLog);
    QDateTime now = QDateTime::fromSecsSinceEpoch(1'800'000'000);
    RunNotifier notifier(fixture.store, std::make_shared<FreedesktopNotifications>(), [&] { return now; });
    notifier.start();

    fixture.store.setAgentKeepaliveActive(true);
    now = now.addSecs(4 * 60 + 59);
    fixture.store.setAgentKeepaliveActive(false);
    fixture.store.setAgentKeepaliveActive(true);
    now = now.addSecs(90 * 60 + 40);
    fixture.store.setAgentKeepaliveActive(false);

    const std::string expected =
        "notify app=Perchwell replaces=0 sound=message-new-instant summary=Your run "
        "wrapped up body=Perchwell covered a 90-min run while you were away. Come back "
        "and check the receipt.\n";
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return readFile(notifyLog).find("notify") != std::string::npos; }, 10000));
    QTest::qWait(200);
    EXPECT_EQ(readFile(notifyLog), "ready\n" + expected);
}

} // namespace
} // namespace perchwell
