#include "analytics/local_calendar.h"
#include "analytics/token_analytics.h"
#include "analytics/trace_index.h"
#include "analytics/trace_parser.h"
#include "analytics/usage_ledger.h"
#include "support/temp_home.h"
#include "tree_generator.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace perchwell {
namespace {

// Runs the test in a fixed zone, so local days are known.
class UtcZone {
public:
    UtcZone() {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        saved_ = had_ ? old : "";
        ::setenv("TZ", "UTC", 1);
        ::tzset();
    }
    ~UtcZone() {
        had_ ? ::setenv("TZ", saved_.c_str(), 1) : ::unsetenv("TZ");
        ::tzset();
    }

private:
    bool had_;
    std::string saved_;
};

TraceTurn turn(std::string session, double at, std::optional<TokenUsage> usage,
               std::optional<std::string> id = {}, std::optional<std::string> cwd = "/w") {
    TraceTurn t;
    t.id = "t" + std::to_string(at);
    t.sessionId = std::move(session);
    t.timestamp = at;
    t.usage = usage;
    t.messageId = std::move(id);
    t.cwd = std::move(cwd);
    t.model = "m";
    return t;
}

constexpr double day0 = 20000.0 * 86400; // a UTC midnight

TEST(TokenAnalyticsTest, ByDayHasEveryDayAndSkipsTurnsAfterToday) {
    UtcZone utc;
    const double now = day0 + 6 * 86400 + 3600;
    const std::vector<TraceTurn> turns = {
        turn("s", day0 - 1, TokenUsage{100, 0, 0, 0}),          // before the week
        turn("s", day0, TokenUsage{1, 2, 3, 4}),                // first bucket
        turn("s", day0 + 6 * 86400, std::nullopt),              // today, counted without usage
        turn("s", day0 + 7 * 86400 + 5, TokenUsage{9, 9, 9, 9}) // tomorrow
    };
    const auto buckets = TokenAnalytics::byDay(turns, 7, now);
    ASSERT_EQ(buckets.size(), 7u);
    EXPECT_DOUBLE_EQ(buckets.front().day, day0);
    EXPECT_EQ(buckets.front().usage, (TokenUsage{1, 2, 3, 4}));
    EXPECT_EQ(buckets.back().turnCount, 1);
    EXPECT_EQ(buckets.back().usage, TokenUsage{});
    EXPECT_EQ(TokenAnalytics::byDay({}, 7, now).size(), 7u);
    EXPECT_TRUE(TokenAnalytics::byDay(turns, 0, now).empty());
}

TEST(TokenAnalyticsTest, EachMessageCountsOnceWithItsLargestFigures) {
    std::vector<TraceTurn> turns = {
        turn("s", 1, TokenUsage{10, 1, 100, 5}, "m1"), turn("s", 2, TokenUsage{10, 7, 100, 5}, "m1"),
        turn("s", 3, TokenUsage{10, 7, 100, 5}, "m1"), turn("s", 4, TokenUsage{3, 3, 3, 3}),
        turn("s", 5, TokenUsage{3, 3, 3, 3}),          turn("s", 6, std::nullopt, "m2"),
    };
    TokenAnalytics::countEachMessageOnce(turns);
    EXPECT_EQ(turns[0].usage, (TokenUsage{10, 7, 100, 5}));
    EXPECT_FALSE(turns[1].usage);
    EXPECT_FALSE(turns[2].usage);
    EXPECT_EQ(TokenAnalytics::total(turns), (TokenUsage{16, 13, 106, 11})); // id-less lines count as they are
    const auto sessions = TokenAnalytics::bySession(turns);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].turnCount, 6); // turn counts stay per line
    EXPECT_EQ(sessions[0].models.at("m"), 6);
    EXPECT_DOUBLE_EQ(sessions[0].firstAt, 1);
    EXPECT_DOUBLE_EQ(sessions[0].lastAt, 6);
}

TEST(TokenAnalyticsTest, ProjectsByTotalWithUnknownDirectory) {
    const auto projects = TokenAnalytics::byProject({turn("s", 1, TokenUsage{1, 0, 0, 0}, {}, std::nullopt),
                                                     turn("s", 2, TokenUsage{5, 0, 0, 0}, {}, "/b"),
                                                     turn("s", 3, TokenUsage{1, 1, 0, 0}, {}, std::nullopt)});
    ASSERT_EQ(projects.size(), 2u);
    EXPECT_EQ(projects[0].cwd, "/b");
    EXPECT_EQ(projects[1].cwd, "<unknown>");
    EXPECT_EQ(projects[1].turnCount, 2);
}

// The figures of the streaming engine, against the generator's own count of what it
// wrote (split messages, sub-agent files, half-written lines) and against the plain
// functions over every parsed turn.
TEST(TokenAnalyticsTest, StreamingFiguresEqualAnIndependentCountOfAGeneratedTree) {
    UtcZone utc;
    const std::string dir = testing::makeTempDir();
    bench::TreeGenerator::Options o;
    o.root = dir + "/projects";
    o.projects = 4;
    o.sessions = 30;
    o.targetBytes = 3 << 20;
    o.days = 9;
    o.subagentShare = 0.5;
    const auto expected = bench::TreeGenerator::generate(o);

    TraceIndex index(o.root, 2);
    index.refresh();
    const auto& ledger = index.ledger();
    EXPECT_EQ(ledger.total(), expected.total);
    std::map<int64_t, TokenUsage> byDay;
    int64_t turns = 0;
    for (const auto& cell : ledger.cells()) {
        byDay[cell.day] += cell.usage;
        turns += cell.turnCount;
    }
    EXPECT_EQ(byDay, expected.usageByUtcDay);
    EXPECT_EQ(turns, expected.assistantLines);
    std::map<std::string, TokenUsage> bySession;
    for (const auto& s : ledger.sessionSummaries()) {
        bySession[s.sessionId] = s.usage;
    }
    EXPECT_EQ(bySession, expected.usageBySession); // sub-agent usage on the parent session

    std::vector<TraceTurn> all;
    for (auto& e : TraceParser::scanAll(o.root)) {
        if (e.assistant()) {
            all.push_back(std::move(*e.assistant()));
        }
    }
    TokenAnalytics::countEachMessageOnce(all);
    EXPECT_EQ(TokenAnalytics::total(all), expected.total);
    const double now = static_cast<double>(o.firstDay + o.days - 1) * 86400 + 10;
    EXPECT_EQ(ledger.dailyBuckets(7, now), TokenAnalytics::byDay(all, 7, now));
    auto plain = TokenAnalytics::bySession(all);
    std::sort(plain.begin(), plain.end(), [](const auto& a, const auto& b) { return a.lastAt > b.lastAt; });
    EXPECT_EQ(ledger.sessionSummaries(), plain);

    // A reload after an append adds only the new figures, and a repeated line of a
    // known message adds nothing.
    const auto before = ledger.total();
    const std::string file = TraceParser::transcriptFiles(o.root).front();
    const std::string line =
        R"({"type":"assistant","uuid":"new","sessionId":"s","timestamp":"2030-01-01T00:00:00Z",)"
        R"("message":{"id":"msg_new","usage":{"input_tokens":5,"output_tokens":6}}})";
    testing::writeFile(file, testing::readFile(file) + "\n" + line + "\n" + line + "\n");
    EXPECT_FALSE(index.refresh().rebuilt);
    EXPECT_EQ(index.ledger().total(), before + TokenUsage({5, 6, 0, 0}));
    testing::removeTree(dir);
}

TEST(LocalCalendarTest, DatesRoundTripAndImpossibleOnesAreRefused) {
    UtcZone utc;
    EXPECT_EQ(LocalCalendar::parseDate("2024-10-04"), 20000);
    EXPECT_EQ(LocalCalendar::dateText(20000), "2024-10-04");
    for (const char* bad : {"2025-02-30", "2025-13-01", "2025-1-01", "20250101", "2025-01-01x", ""}) {
        EXPECT_EQ(LocalCalendar::parseDate(bad), -1) << bad;
    }
    EXPECT_EQ(LocalCalendar::dayNumber(-1), -1);
    EXPECT_DOUBLE_EQ(LocalCalendar::startOfDay(20000), day0);
}

} // namespace
} // namespace perchwell
