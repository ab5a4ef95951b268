#include "analytics/trace_index.h"
#include "analytics/trace_parser.h"
#include "analytics/trace_search.h"
#include "support/temp_home.h"
#include "tree_generator.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

TraceEntry userEntry(std::string id, std::string text) {
    TraceUserTurn u;
    u.id = std::move(id);
    u.sessionId = "s";
    u.text = std::move(text);
    return TraceEntry(std::move(u));
}

TEST(TraceSearchTest, TokensAreLowerCasedAndAllMustMatch) {
    EXPECT_EQ(TraceSearch::tokenize("  Fix  PARSER\tNaïve "),
              (std::vector<std::string>{"fix", "parser", "naïve"}));
    EXPECT_TRUE(TraceSearch::tokenize(" \t ").empty());
    const std::vector<TraceEntry> entries = {userEntry("1", "Fix the Parser"), userEntry("2", "fix only"),
                                             userEntry("3", "PARSER FIX NAÏVE")};
    const auto hits = TraceSearch::run("fix  PARSER", entries);
    ASSERT_EQ(hits.size(), 2u);
    EXPECT_EQ(hits[0].identifier(), "u-1::user_text");
    EXPECT_EQ(hits[1].identifier(), "u-3::user_text");
    EXPECT_EQ(TraceSearch::run("naïve", entries).size(), 1u);
    EXPECT_TRUE(TraceSearch::run("   ", entries).empty());
}

TEST(TraceSearchTest, SnippetsAroundTheMatch) {
    struct Case {
        std::string text;
        std::string token;
        std::string snippet;
    };
    const std::string middle = std::string(100, 'a') + "needle" + std::string(200, 'b');
    const std::string owls(50, 'o');
    const Case cases[] = {
        {"", "x", ""},
        {"short text", "absent", "short text"},
        {std::string(130, 'z'), "absent", std::string(120, 'z')},
        {"a needle here", "needle", "a needle here"},
        {middle, "needle", "\u2026" + std::string(40, 'a') + "needle" + std::string(74, 'b') + "\u2026"},
        // Characters, not bytes: 45 owls before the match, each one character.
        {[] {
             std::string s;
             for (int i = 0; i < 45; ++i) {
                 s += "🦉";
             }
             return s + "X";
         }(),
         "x",
         [] {
             std::string s = "\u2026";
             for (int i = 0; i < 40; ++i) {
                 s += "🦉";
             }
             return s + "X";
         }()},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TraceSearch::snippet(c.text, c.token), c.snippet) << c.text.substr(0, 30);
    }
}

TEST(TraceSearchTest, AssistantFieldsInOrderAndEveryHitKept) {
    TraceTurn t;
    t.id = "a";
    t.model = "claude-opus";
    t.text = "opus said";
    t.toolUses = {{"1", "OpusTool", R"({"q":"opus"})"}, {"2", "Read", "{}"}};
    std::vector<TraceEntry> entries = {TraceEntry(t)};
    const auto hits = TraceSearch::run("OPUS", entries);
    std::vector<std::string> fields;
    for (const auto& h : hits) {
        fields.emplace_back(toString(h.field));
    }
    EXPECT_EQ(fields, (std::vector<std::string>{"assistant_text", "tool_name", "tool_input", "model"}));
    EXPECT_EQ(hits[1].snippet, "OpusTool");
    EXPECT_EQ(hits[3].snippet, "claude-opus");

    entries.clear();
    for (int i = 0; i < 25; ++i) {
        entries.push_back(userEntry(std::to_string(i), "match " + std::to_string(i)));
    }
    EXPECT_EQ(TraceSearch::run("match", entries).size(), 25u); // no cap
}

// The index reads only its compact text and the matching lines; its answers must be
// the plain scan's over every entry.
TEST(TraceSearchTest, IndexedSearchEqualsThePlainScan) {
    const std::string dir = testing::makeTempDir();
    bench::TreeGenerator::Options o;
    o.root = dir + "/projects";
    o.projects = 3;
    o.sessions = 12;
    o.targetBytes = 2 << 20;
    bench::TreeGenerator::generate(o);
    TraceIndex index(o.root, 2);
    index.refresh();
    const auto all = TraceParser::scanAll(o.root);
    EXPECT_EQ(index.entries(), all);
    for (const char* query : {"a", "fix parser", "検索", "RÉSUMÉ", "🦉 owl", "quote\"d", "toolu_01",
                              "zzz-no-hit", "claude-opus-4", "bash"}) {
        const auto expected = TraceSearch::run(query, all);
        EXPECT_EQ(index.search(query), expected) << query;
    }
    EXPECT_FALSE(TraceSearch::run("fix", all).empty());
    testing::removeTree(dir);
}

} // namespace
} // namespace perchwell
