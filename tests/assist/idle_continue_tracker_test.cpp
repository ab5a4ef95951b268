#include "assist/idle_continue_tracker.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

const std::string session = "0123456789abcdef";

class IdleContinueTrackerTest : public ::testing::Test {
protected:
    UserEntry user(double at, std::optional<std::string> cwd = std::nullopt) {
        UserEntry entry;
        entry.sessionId = session;
        entry.timestamp = at;
        entry.cwd = std::move(cwd);
        return entry;
    }
    AssistantEntry assistant(double at) {
        AssistantEntry entry;
        entry.sessionId = session;
        entry.timestamp = at;
        return entry;
    }
    // Checks at each of these times; how many times onIdle fired at each.
    std::vector<int> firesAt(std::initializer_list<double> times) {
        std::vector<int> out;
        for (double t : times) {
            now = t;
            const int before = fired;
            tracker.check();
            out.push_back(fired - before);
        }
        return out;
    }

    double now = 1000;
    int fired = 0;
    IdleContinueTracker tracker{60, [this] { return now; }};
    void SetUp() override {
        tracker.onIdle = [this](const std::string& id) {
            EXPECT_EQ(id, session);
            ++fired;
        };
    }
};

TEST_F(IdleContinueTrackerTest, FiresOncePastTheThresholdThenEveryTenMinutes) {
    testing::LogCapture logs;
    tracker.recordUser(user(1000 - 65)); // already old when it is read
    EXPECT_EQ(firesAt({1000, 1010, 1590, 1600, 1610, 2200}), (std::vector<int>{1, 0, 0, 1, 0, 1}));
    EXPECT_EQ(logs.messages("workflow.idle").front(), "session 01234567 idle 65s — firing onIdle");
}

TEST_F(IdleContinueTrackerTest, OnlyANewUserPromptEndsTheCooldown) {
    tracker.recordUser(user(900));
    EXPECT_EQ(firesAt({1000}), std::vector<int>{1});
    tracker.recordAssistant(assistant(1005));
    EXPECT_EQ(firesAt({1066, 1100}), (std::vector<int>{0, 0})) << "an assistant turn keeps the cooldown";
    tracker.recordUser(user(1110)); // for example the typed "continue", once written
    EXPECT_EQ(firesAt({1160, 1171}), (std::vector<int>{0, 1}));
}

TEST_F(IdleContinueTrackerTest, ThresholdChangesApplyAtTheNextCheck) {
    tracker.recordUser(user(1000, "/work/app"));
    EXPECT_EQ(firesAt({1030}), std::vector<int>{0});
    tracker.idleThreshold = 20;
    EXPECT_EQ(firesAt({1030}), std::vector<int>{1});
    EXPECT_EQ(tracker.lastCwd(session), "/work/app");
    EXPECT_EQ(tracker.lastCwd("other"), std::nullopt);
}

TEST_F(IdleContinueTrackerTest, StartArmsATenSecondCheck) {
    EXPECT_FALSE(tracker.isChecking());
    tracker.start();
    tracker.start(); // re-arming keeps one timer
    EXPECT_TRUE(tracker.isChecking());
}

} // namespace
} // namespace perchwell
