#include "keepalive/agent_keepalive_controller.h"
#include "keepalive/closed_lid_sleep_blocker.h"
#include "support/keepalive_fakes.h"
#include "support/log_capture.h"
#include "support/store_fixture.h"

#include <QTest>
#include <cmath>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::FakeLidSwitchGuardian;
using testing::FakePowerAssertions;
using testing::LogCapture;

class AgentKeepaliveControllerTest : public ::testing::Test {
protected:
    QDateTime at(double seconds) const { return start.addMSecs(static_cast<qint64>(seconds * 1000)); }
    size_t count(const std::string& message) const { return logs.count("workflow.keepalive", message); }

    LogCapture logs;
    testing::StoreFixture fixture;
    SettingsStore& store = fixture.store;
    const QDateTime start = QDateTime::fromSecsSinceEpoch(1'800'000'000);
    QDateTime now = start;
    std::shared_ptr<FakePowerAssertions> power = std::make_shared<FakePowerAssertions>();
    std::shared_ptr<FakeLidSwitchGuardian> guardian = std::make_shared<FakeLidSwitchGuardian>();
    AgentKeepaliveController keepalive{store, power, guardian, [this] { return now; }};
};

TEST_F(AgentKeepaliveControllerTest, TheHoldWindowIsNeverShorterThanFiveMinutes) {
    const struct {
        double stored;
        double effective;
    } cases[] = {{60, 300}, {300, 300}, {5400, 5400}, {NAN, 300}, {-1, 300}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.stored);
        store.setAgentKeepaliveHoldSeconds(c.stored);
        keepalive.recordActivity("0f1e2d3c-aaaa", "user");
        EXPECT_EQ(keepalive.releaseAt(), at(c.effective));
        EXPECT_EQ(store.agentKeepaliveReleaseAt(), at(c.effective));
        EXPECT_EQ(keepalive.releaseTimerInterval(), static_cast<int>(c.effective * 1000));
        keepalive.stop();
    }
}

TEST_F(AgentKeepaliveControllerTest, ActivityWhileOffIsRecordedButHoldsNothing) {
    store.setAgentKeepalive(false);
    keepalive.recordActivity("0f1e2d3c-aaaa", "user");
    EXPECT_EQ(store.agentKeepaliveLastActivityAt(), now);
    EXPECT_TRUE(power->created.empty());
    EXPECT_FALSE(store.agentKeepaliveActive());
    EXPECT_FALSE(keepalive.releaseTimerInterval());
}

TEST_F(AgentKeepaliveControllerTest, ActivityAcquiresOnceAndMovesTheWindow) {
    store.setAgentKeepaliveHoldSeconds(600);
    keepalive.recordActivity("0f1e2d3c-aaaa-bbbb", "user");
    now = at(10);
    keepalive.recordActivity("99999999-other", "assistant");
    now = at(20);
    keepalive.recordActivity("0f1e2d3c-aaaa-bbbb", "assistant");

    ASSERT_EQ(power->created.size(), 2u) << "one assertion of each kind";
    EXPECT_EQ(power->created[0].kind, AssertionKind::idleSystem);
    EXPECT_EQ(power->created[1].kind, AssertionKind::networkClient);
    for (const auto& created : power->created) {
        EXPECT_EQ(created.name, "Perchwell Agent Keepalive: active Claude Code session 0f1e2d3c");
    }
    EXPECT_TRUE(store.agentKeepaliveActive());
    EXPECT_EQ(store.agentKeepaliveReason(), "Claude Code activity");
    EXPECT_EQ(store.agentKeepaliveReleaseAt(), at(620));
    EXPECT_EQ(store.agentKeepaliveLastActivityAt(), at(20));
    EXPECT_EQ(count("power assertion acquired kind=idle id=1 source=user"), 1u);
    EXPECT_EQ(count("power assertion acquired kind=network id=2 source=user"), 1u);

    // A short session id is used whole.
    keepalive.stop();
    keepalive.recordActivity("abc", "user");
    EXPECT_EQ(power->created.back().name, "Perchwell Agent Keepalive: active Claude Code session abc");
}

TEST_F(AgentKeepaliveControllerTest, OnlyTheIdleSleepAssertionIsEssential) {
    power->failing = {AssertionKind::networkClient};
    keepalive.recordActivity("0f1e2d3c", "assistant");
    EXPECT_TRUE(keepalive.holding());
    EXPECT_EQ(keepalive.heldCount(), 1u);
    EXPECT_TRUE(store.agentKeepaliveActive());
    EXPECT_EQ(count("power assertion failed kind=network result=-536870199 source=assistant"), 1u);
    EXPECT_TRUE(keepalive.unavailableReason().isNull());
    keepalive.stop();

    power->failing = {AssertionKind::idleSystem};
    keepalive.recordActivity("0f1e2d3c", "assistant");
    keepalive.recordActivity("0f1e2d3c", "assistant");
    EXPECT_FALSE(keepalive.holding());
    EXPECT_FALSE(store.agentKeepaliveActive());
    EXPECT_FALSE(store.agentKeepaliveReleaseAt().isValid());
    EXPECT_TRUE(store.agentKeepaliveReason().isNull());
    EXPECT_FALSE(keepalive.releaseTimerInterval());
    EXPECT_EQ(keepalive.unavailableReason(), "-536870199");
    size_t warnings = 0;
    for (const auto& record : logs.records()) {
        warnings += record.level == LogLevel::warning &&
                    record.message == "power assertion failed kind=idle result=-536870199 source=assistant";
    }
    EXPECT_EQ(warnings, 1u) << "a repeated failure is said once";

    // Success again clears the unavailability.
    power->failing.clear();
    keepalive.recordActivity("0f1e2d3c", "assistant");
    EXPECT_TRUE(keepalive.unavailableReason().isNull());
}

TEST_F(AgentKeepaliveControllerTest, AnEarlyTimerReArmsForWhatIsLeft) {
    keepalive.recordActivity("0f1e2d3c", "user");
    const QDateTime releaseAt = *keepalive.releaseAt();
    const struct {
        double secondsBefore;
        int interval;
    } cases[] = {{120, 120000}, {0.4, 1000}};
    for (const auto& c : cases) {
        now = releaseAt.addMSecs(static_cast<qint64>(-c.secondsBefore * 1000));
        keepalive.releaseIfExpired();
        EXPECT_TRUE(keepalive.holding());
        EXPECT_EQ(keepalive.releaseTimerInterval(), c.interval);
    }
    now = releaseAt;
    keepalive.releaseIfExpired();
    EXPECT_FALSE(keepalive.holding());
    EXPECT_FALSE(keepalive.releaseTimerInterval());
    EXPECT_EQ(count("power assertion released kind=idle id=1 reason=activity window expired"), 1u);
    EXPECT_EQ(count("power assertion released kind=network id=2 reason=activity window expired"), 1u);
}

TEST_F(AgentKeepaliveControllerTest, TheRealTimerReleasesAtTheEndOfTheWindow) {
    // A clock that has the window almost over: the timer fires after its 1 s floor.
    keepalive.recordActivity("0f1e2d3c", "user");
    now = keepalive.releaseAt()->addMSecs(-100);
    keepalive.releaseIfExpired();
    now = *keepalive.releaseAt();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !keepalive.holding(); }, 5000));
    EXPECT_TRUE(power->held.empty());
}

TEST_F(AgentKeepaliveControllerTest, SwitchingOffWhileHoldingReleasesEverything) {
    store.setAgentKeepaliveClosedLidMode(true);
    keepalive.recordActivity("0f1e2d3c", "user");
    ASSERT_TRUE(QTest::qWaitFor([&] { return keepalive.closedLidSleepBlocker().guardianRunning(); }, 5000));
    keepalive.recordActivity("0f1e2d3c", "user");
    EXPECT_TRUE(store.agentKeepaliveClosedLidActive());

    store.setAgentKeepalive(false);
    keepalive.settingsChanged();
    EXPECT_TRUE(power->held.empty());
    EXPECT_EQ(power->released.size(), 2u);
    EXPECT_EQ(count("power assertion released kind=idle id=1 reason=settings changed"), 1u);
    EXPECT_FALSE(store.agentKeepaliveActive());
    EXPECT_FALSE(store.agentKeepaliveReleaseAt().isValid());
    EXPECT_TRUE(store.agentKeepaliveReason().isNull());
    EXPECT_FALSE(store.agentKeepaliveClosedLidActive());
    EXPECT_FALSE(keepalive.closedLidSleepBlocker().guardianRunning());
    EXPECT_EQ(testing::readFile(ClosedLidSleepBlocker::deadlinePath()), "0\n");
}

TEST_F(AgentKeepaliveControllerTest, ChangingTheWindowWhileHoldingRestartsItFromNow) {
    keepalive.recordActivity("0f1e2d3c", "user");
    for (double hold : {600.0, 9000.0}) {
        now = now.addSecs(1000);
        store.setAgentKeepaliveHoldSeconds(hold);
        keepalive.settingsChanged();
        EXPECT_EQ(keepalive.releaseAt(), now.addSecs(static_cast<qint64>(hold)));
        EXPECT_EQ(store.agentKeepaliveReleaseAt(), now.addSecs(static_cast<qint64>(hold)));
        EXPECT_EQ(keepalive.releaseTimerInterval(), static_cast<int>(hold * 1000));
    }
    EXPECT_EQ(power->created.size(), 2u);

    // Not holding: a change only makes sure closed-lid mode is not armed.
    keepalive.stop();
    store.setAgentKeepaliveHoldSeconds(700);
    keepalive.settingsChanged();
    EXPECT_FALSE(keepalive.holding());
    EXPECT_FALSE(keepalive.releaseAt());
}

TEST_F(AgentKeepaliveControllerTest, AManualStartSwitchesTheFeatureOnAndHolds) {
    store.setAgentKeepalive(false);
    keepalive.startManual();
    EXPECT_TRUE(store.agentKeepalive());
    EXPECT_TRUE(store.agentKeepaliveActive());
    EXPECT_EQ(store.agentKeepaliveReason(), "Vuve Vurer Mode");
    EXPECT_EQ(store.agentKeepaliveLastActivityAt(), now);
    ASSERT_FALSE(power->created.empty());
    EXPECT_EQ(power->created[0].name, "Perchwell Agent Keepalive: manual Vuve Vurer Mode");
    EXPECT_EQ(count("power assertion acquired kind=idle id=1 source=manual"), 1u);

    keepalive.stop();
    EXPECT_EQ(count("power assertion released kind=network id=2 reason=stop"), 1u);
    EXPECT_FALSE(store.agentKeepaliveActive());
}

} // namespace
} // namespace perchwell
