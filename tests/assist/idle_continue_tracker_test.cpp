#include "assist/idle_continue_tracker.h"
#include "support/log_capture.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

const std::string session = "0123456789abcdef";

class IdleContinueTrackerTest : public ::testing::Test {
protected:
    UserEntry user(double at, std::optional<std::string> cwd = std::nullopt, std::string content = "fix it") {
        UserEntry entry;
        entry.sessionId = session;
        entry.timestamp = at;
        entry.cwd = std::move(cwd);
        entry.content = std::move(content);
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
    tracker.recordUser(user(1110));
    EXPECT_EQ(firesAt({1160, 1171}), (std::vector<int>{0, 1}));
}

TEST_F(IdleContinueTrackerTest, TheEchoOfTheTypedContinueKeepsTheCooldown) {
    struct Case {
        const char* name;
        std::string prompt;
        double readAt; // when the prompt line reaches the tracker
        int fires;     // a check 100 s later, well inside the cooldown of the first firing
    };
    const std::vector<Case> cases = {
        {"the echo, with Claude Code's line end", "continue\n", 1001, 0},
        {"the user's own words", "try the other branch", 1001, 1},
        {"the same words long after", "continue", 1200, 1},
    };
    for (const auto& c : cases) {
        IdleContinueTracker tracker{60, [this] { return now; }};
        int fires = 0;
        tracker.onIdle = [&](const std::string&) { ++fires; };
        tracker.recordUser(user(900));
        now = 1000;
        tracker.check();
        tracker.noteTyped(session, "continue");
        now = c.readAt;
        tracker.recordUser(user(c.readAt, std::nullopt, c.prompt));
        now = c.readAt + 100;
        tracker.check();
        EXPECT_EQ(fires - 1, c.fires) << c.name;
    }
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
