#include "keepalive/closed_lid_sleep_blocker.h"
#include "platform/linux/systemd_inhibit_guardian.h"
#include "platform/paths.h"
#include "support/keepalive_fakes.h"
#include "support/log_capture.h"
#include "support/store_fixture.h"

#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::FakeLidSwitchGuardian;
using testing::readFile;

class ClosedLidSleepBlockerTest : public ::testing::Test {
protected:
    void SetUp() override { store.setAgentKeepaliveClosedLidMode(true); }
    // An arming thread still waiting holds its own reference to the guardian.
    void TearDown() override { guardian->open(); }
    std::string deadline() const { return readFile(ClosedLidSleepBlocker::deadlinePath()); }

    testing::LogCapture logs;
    testing::StoreFixture fixture;
    SettingsStore& store = fixture.store;
    std::shared_ptr<FakeLidSwitchGuardian> guardian = std::make_shared<FakeLidSwitchGuardian>();
    ClosedLidSleepBlocker blocker{store, guardian};
    const QDateTime until = QDateTime::fromMSecsSinceEpoch(1'800'000'000'750);
};

TEST_F(ClosedLidSleepBlockerTest, WithTheModeOffExtendClearsTheDeadline) {
    ASSERT_TRUE(Paths::ensureDataDirectory());
    store.setAgentKeepaliveClosedLidMode(false);
    blocker.extend(until);
    EXPECT_EQ(deadline(), "0\n");
    EXPECT_FALSE(store.agentKeepaliveClosedLidActive());
    EXPECT_EQ(guardian->arms, 0);
    // Said once: the file is not rewritten for every further line of activity.
    std::filesystem::remove(ClosedLidSleepBlocker::deadlinePath());
    blocker.extend(until);
    EXPECT_FALSE(std::filesystem::exists(ClosedLidSleepBlocker::deadlinePath()));
}

TEST_F(ClosedLidSleepBlockerTest, OneArmingPerGuardianThenOnlyTheDeadlineMoves) {
    guardian->gated = true;
    QSignalSpy finished(&blocker, &ClosedLidSleepBlocker::armingFinished);
    blocker.extend(until);
    blocker.extend(until.addSecs(60));
    EXPECT_EQ(deadline(), "1800000060\n") << "whole seconds, the fraction dropped";
    EXPECT_TRUE(blocker.arming());
    EXPECT_FALSE(store.agentKeepaliveClosedLidActive());

    guardian->open();
    ASSERT_TRUE(finished.wait(5000));
    // Read once the arming thread has ended: it writes the script.
    EXPECT_NE(guardian->lastScript.find("until_file='" + ClosedLidSleepBlocker::deadlinePath() + "'"),
              std::string::npos);
    EXPECT_EQ(guardian->arms, 1) << "two extends during one approval start one arming";
    EXPECT_TRUE(blocker.guardianRunning());
    EXPECT_FALSE(store.agentKeepaliveClosedLidActive()) << "active from the next extend on";
    EXPECT_EQ(logs.count("workflow.closedlid", "closed-lid guardian armed"), 1u);

    blocker.extend(until.addSecs(120));
    EXPECT_TRUE(store.agentKeepaliveClosedLidActive());
    EXPECT_TRUE(store.agentKeepaliveClosedLidError().isNull());
    EXPECT_EQ(deadline(), "1800000120\n");
    EXPECT_EQ(guardian->arms, 1);

    blocker.stop();
    EXPECT_EQ(deadline(), "0\n");
    EXPECT_FALSE(blocker.guardianRunning());
    EXPECT_FALSE(store.agentKeepaliveClosedLidActive());
}

TEST_F(ClosedLidSleepBlockerTest, AGuardianThatEndedIsNotClaimedButArmedAgain) {
    // E.g. the machine slept through the deadline: the guardian saw it pass and left.
    QSignalSpy finished(&blocker, &ClosedLidSleepBlocker::armingFinished);
    blocker.extend(until);
    ASSERT_TRUE(finished.wait(5000));
    blocker.extend(until);
    ASSERT_TRUE(store.agentKeepaliveClosedLidActive());

    guardian->end();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !blocker.guardianRunning(); }, 5000));
    EXPECT_FALSE(store.agentKeepaliveClosedLidActive());
    EXPECT_EQ(logs.count("workflow.closedlid", "closed-lid guardian ended"), 1u);

    blocker.extend(until.addSecs(60));
    EXPECT_TRUE(blocker.arming());
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(guardian->arms, 2);
    EXPECT_TRUE(blocker.guardianRunning());
}

TEST_F(ClosedLidSleepBlockerTest, ARefusalIsPublishedInTheUsersWords) {
    guardian->outcome = {false, "Failed to inhibit: Access denied"};
    QSignalSpy finished(&blocker, &ClosedLidSleepBlocker::armingFinished);
    blocker.extend(until);
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_FALSE(blocker.guardianRunning());
    EXPECT_FALSE(store.agentKeepaliveClosedLidActive());
    EXPECT_EQ(store.agentKeepaliveClosedLidError(),
              "Closed-Lid Mode needs administrator approval. Failed to inhibit: Access denied");
    EXPECT_EQ(
        logs.count("workflow.closedlid", "closed-lid guardian failed: Failed to inhibit: Access denied"), 1u);
}

TEST_F(ClosedLidSleepBlockerTest, StopDuringAnArmingLeavesItIdle) {
    guardian->gated = true;
    QSignalSpy finished(&blocker, &ClosedLidSleepBlocker::armingFinished);
    blocker.extend(until);
    const int generation = blocker.generation();
    blocker.stop();
    EXPECT_EQ(blocker.generation(), generation + 1);
    EXPECT_FALSE(blocker.arming());
    guardian->open();
    QTest::qWait(300);
    EXPECT_EQ(finished.count(), 0) << "the outdated answer is ignored";
    EXPECT_FALSE(blocker.guardianRunning());
    EXPECT_FALSE(store.agentKeepaliveClosedLidActive());
    EXPECT_EQ(deadline(), "0\n");
}

TEST_F(ClosedLidSleepBlockerTest, AnUnwritableDeadlineArmsNothing) {
    // A directory where the file should be: the rename fails even for root.
    std::filesystem::create_directories(ClosedLidSleepBlocker::deadlinePath() + "/blocked");
    blocker.extend(until);
    EXPECT_FALSE(store.agentKeepaliveClosedLidActive());
    EXPECT_EQ(guardian->arms, 0);
    const std::string error = store.agentKeepaliveClosedLidError().toStdString();
    EXPECT_EQ(error.rfind("Could not arm Closed-Lid Mode: ", 0), 0u) << error;
    const auto messages = logs.messages("workflow.closedlid");
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].rfind("failed to write closed-lid deadline: ", 0), 0u) << messages[0];
}

// The real guardian under a stand-in systemd-inhibit found on PATH, slow to approve.
TEST(ClosedLidGuardianProcessTest, StopDuringAPendingApprovalLeavesNothingArmed) {
    testing::StoreFixture fixture;
    const std::string bin = fixture.home.path() + "/bin";
    std::filesystem::create_directories(bin);
    std::filesystem::create_symlink(
        std::string(PERCHWELL_SOURCE_DIR) + "/tests/platform/fake-systemd-inhibit", bin + "/systemd-inhibit");
    const std::string path = std::string(::getenv("PATH"));
    ::setenv("PATH", (bin + ":" + path).c_str(), 1);
    const std::string log = fixture.home.path() + "/inhibit.log";
    ::setenv("PV_FAKE_INHIBIT_LOG", log.c_str(), 1);
    ::setenv("PV_FAKE_INHIBIT_DELAY", "1", 1);

    fixture.store.setAgentKeepaliveClosedLidMode(true);
    ClosedLidSleepBlocker blocker(fixture.store, std::make_shared<SystemdInhibitGuardian>());
    QSignalSpy finished(&blocker, &ClosedLidSleepBlocker::armingFinished);
    blocker.extend(QDateTime::currentDateTimeUtc().addSecs(600));
    blocker.stop();
    // The late guardian finds the cleared deadline at its first look and goes.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] {
            return readFile(log).find("pid ") != std::string::npos &&
                   !std::filesystem::exists(ClosedLidSleepBlocker::deadlinePath());
        },
        10000))
        << readFile(log);
    EXPECT_EQ(finished.count(), 0);
    EXPECT_FALSE(blocker.guardianRunning());
    EXPECT_FALSE(fixture.store.agentKeepaliveClosedLidActive());
    EXPECT_TRUE(fixture.store.agentKeepaliveClosedLidError().isNull());
    ::setenv("PATH", path.c_str(), 1);
    ::unsetenv("PV_FAKE_INHIBIT_DELAY");
}

} // namespace
} // namespace perchwell
