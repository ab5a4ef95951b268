#include "analytics/usage_report.h"
#include "support/process.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace perchwell {
namespace {

TEST(UsageReportTest, Arguments) {
    struct Case {
        std::vector<std::string> args;
        bool ok;
        UsageReport::Grouping grouping;
        bool json;
    };
    using G = UsageReport::Grouping;
    const Case cases[] = {
        {{}, true, G::daily, false},
        {{"session", "--json"}, true, G::session, true},
        {{"--json", "project", "--since", "2025-01-01", "--until", "2025-01-31"}, true, G::project, true},
        {{"--since"}, false, G::daily, false},
        {{"--since", "2025-02-30"}, false, G::daily, false},
        {{"weekly"}, false, G::daily, false},
        {{"daily", "session"}, false, G::daily, false},
    };
    for (const auto& c : cases) {
        const auto parsed = UsageReport::parseArguments(c.args);
        ASSERT_EQ(parsed.ok(), c.ok) << ::testing::PrintToString(c.args);
        if (c.ok) {
            EXPECT_EQ(parsed->grouping, c.grouping);
            EXPECT_EQ(parsed->json, c.json);
        }
    }
}

UsageLedger sampleLedger() {
    UsageLedger ledger;
    TraceTurn t;
    t.sessionId = "s1";
    t.cwd = "/a";
    t.usage = TokenUsage{1, 2, 3, 4};
    ledger.add(t, 20000);
    t.sessionId = "s2";
    t.cwd.reset();
    ledger.add(t, 20002);
    t.usage.reset();
    ledger.add(t, 20002);
    return ledger;
}

TEST(UsageReportTest, RowsWithinTheDatesAndTheirTotals) {
    UsageReport::Options o;
    auto rows = UsageReport::rows(sampleLedger(), o);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (UsageReport::Row{"2024-10-04", {1, 2, 3, 4}, 1}));
    EXPECT_EQ(rows[1], (UsageReport::Row{"2024-10-06", {1, 2, 3, 4}, 2}));
    o.sinceDay = 20001;
    EXPECT_EQ(UsageReport::rows(sampleLedger(), o).size(), 1u);
    o.sinceDay.reset();
    o.grouping = UsageReport::Grouping::project;
    rows = UsageReport::rows(sampleLedger(), o);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[1].key, "<unknown>");
    EXPECT_EQ(UsageReport::formatJson(rows, o.grouping),
              R"({"projects":[{"project":"/a","inputTokens":1,"outputTokens":2,"cacheCreationTokens":4,)"
              R"("cacheReadTokens":3,"totalTokens":10,"turns":1},{"project":"<unknown>","inputTokens":1,)"
              R"("outputTokens":2,"cacheCreationTokens":4,"cacheReadTokens":3,"totalTokens":10,"turns":2}],)"
              R"("totals":{"inputTokens":2,"outputTokens":4,"cacheCreationTokens":8,"cacheReadTokens":6,)"
              R"("totalTokens":20,"turns":3}})"
              "\n");
    const auto table = UsageReport::formatTable(rows, o.grouping);
    EXPECT_NE(table.find("Project"), std::string::npos);
    EXPECT_NE(table.find("Total"), std::string::npos);
}

// The command as a terminal runs it: the transcripts of $CLAUDE_CONFIG_DIR, nothing on
// standard error when it is not a terminal, status 2 and the usage line on bad input.
TEST(UsageReportTest, CommandReadsTheClaudeDirectory) {
    const std::string claude = testing::makeTempDir();
    std::filesystem::create_directories(claude + "/projects/-w");
    testing::writeFile(claude + "/projects/-w/s.jsonl",
                       R"({"type":"assistant","uuid":"a","sessionId":"s","timestamp":"2025-06-01T09:30:15Z",)"
                       R"("message":{"id":"m","usage":{"input_tokens":3,"output_tokens":4}}})"
                       "\n");
    const std::string exe = testing::binaryPath("perchwell");
    auto run = testing::runProcess(
        {"/usr/bin/env", "TZ=UTC", "CLAUDE_CONFIG_DIR=" + claude, exe, "usage", "--json"});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find(R"({"date":"2025-06-01","inputTokens":3,"outputTokens":4)"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.err, "");
    run = testing::runProcess({exe, "usage", "--bogus"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.err.find("usage: perchwell usage"), std::string::npos);
    testing::removeTree(claude);
}

} // namespace
} // namespace perchwell
