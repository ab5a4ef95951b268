#include "hooks/hook_command.h"
#include "view_model_fixture.h"
#include "views/sessions_view_model.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

SessionCard card(std::string id, SessionSource source, SessionStatus status,
                 std::optional<std::string> branch = {}) {
    SessionCard c;
    c.sessionId = std::move(id);
    c.projectName = "app";
    c.source = source;
    c.status = status;
    c.gitBranch = std::move(branch);
    return c;
}

struct SessionsTest : ::testing::Test, testing::ViewModelFixture {
    SessionsViewModel model{*store};
    void reload() {
        QSignalSpy done(&model, &SessionsViewModel::sessionsChanged);
        model.reload();
        ASSERT_TRUE(settle([&] { return done.count() > 0; }));
    }
};

TEST_F(SessionsTest, TheNewestHundredOfOneHundredFifty) {
    for (int i = 0; i < 150; ++i) {
        ingest("s" + std::to_string(i),
               {prompt("u" + std::to_string(i), 1000 + i, "hi", "/w/app", "s" + std::to_string(i))});
    }
    reload();
    ASSERT_EQ(model.sessions().size(), 100u);
    EXPECT_EQ(model.sessions().front().sessionId, "s149");
}

TEST(SessionsFilterTest, FilterColumnsAndSources) {
    testing::ViewModelFixture f;
    SessionsViewModel model(*f.store);
    // The filter works on whatever a reload loaded; these cards stand for one.
    const std::vector<SessionCard> cards = {
        card("abc-1", SessionSource::cli, SessionStatus::active, "main"),
        card("def-2", SessionSource::vscode, SessionStatus::idle, "feature"),
        card("ghi-3", SessionSource::cli, SessionStatus::done),
        card("jkl-4", SessionSource::codex, SessionStatus::done, "domain-fix"),
        card("mno-5", SessionSource::cli, SessionStatus::active),
    };
    model.setCardsForTesting(cards);
    struct Case {
        std::string search;
        size_t active, idle, done;
    };
    const Case cases[] = {
        {"", 2, 1, 2},    {"VS", 0, 1, 0},       {"main", 1, 0, 1},
        {"GHI", 0, 0, 1}, {"terminal", 2, 0, 1}, {"zzz", 0, 0, 0},
    };
    for (const auto& c : cases) {
        model.setSearchText(c.search);
        EXPECT_EQ(model.activeSessions().size(), c.active) << c.search;
        EXPECT_EQ(model.idleSessions().size(), c.idle) << c.search;
        EXPECT_EQ(model.doneSessions().size(), c.done) << c.search;
        EXPECT_EQ(model.sourceBreakdown(),
                  (std::vector<std::pair<SessionSource, int64_t>>{
                      {SessionSource::cli, 3}, {SessionSource::vscode, 1}, {SessionSource::codex, 1}}))
            << c.search;
    }
    EXPECT_EQ(SessionsViewModel::launchHelpText(""), "No cwd recorded for this session");
    EXPECT_EQ(SessionsViewModel::launchHelpText("/w"),
              "Open Terminal in /w and run: claude --dangerously-skip-permissions");
}

TEST_F(SessionsTest, PolicyGoesToTheTableThenTheFile) {
    ingest("s1", {prompt("u1", 1000, "hi")});
    model.setPolicy("s1", ReviewPolicyLevel::strict);
    ASSERT_TRUE(settle([] { return HookCommand::loadAllSessionPolicies().count("s1") == 1; }));
    ASSERT_TRUE(settle([&] {
        return !model.sessions().empty() && model.sessions()[0].policy == ReviewPolicyLevel::strict;
    }));
    model.setPolicy("s1", ReviewPolicyLevel::global);
    ASSERT_TRUE(settle([] { return HookCommand::loadAllSessionPolicies().empty(); }));
    ASSERT_TRUE(settle([&] { return model.sessions()[0].policy == ReviewPolicyLevel::global; }));
}

} // namespace
} // namespace perchwell
