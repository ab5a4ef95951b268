#include "analytics/turn_diff_engine.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

TraceTurn makeTurn(std::string id, double at, std::vector<ToolUseBlock> tools = {}, std::string text = "t",
                   std::optional<std::string> model = "m", std::optional<TokenUsage> usage = std::nullopt) {
    TraceTurn t;
    t.id = std::move(id);
    t.sessionId = "s";
    t.timestamp = at;
    t.toolUses = std::move(tools);
    t.text = std::move(text);
    t.model = std::move(model);
    t.usage = usage;
    return t;
}

TEST(TurnDiffEngineTest, ToolIdentity) {
    const ToolUseBlock withId1{"x", "Bash", R"({"a":1})"};
    const ToolUseBlock withId1Changed{"x", "Bash", R"({"a":2})"};
    const ToolUseBlock noId{std::nullopt, "Read", "{}"};
    const ToolUseBlock emptyId{"", "Read", "{}"};
    const ToolUseBlock other{std::nullopt, "Read", R"({"f":1})"};
    const auto d = TurnDiffEngine::diff(makeTurn("p", 0, {withId1, noId}),
                                        makeTurn("c", 2.5, {withId1Changed, emptyId, other}));
    EXPECT_EQ(d.addedTools, std::vector<ToolUseBlock>{other});
    EXPECT_TRUE(d.removedTools.empty());
    EXPECT_EQ(d.commonToolNames, (std::vector<std::string>{"Bash", "Read"}));
    EXPECT_DOUBLE_EQ(d.wallClockDelta, 2.5);
    EXPECT_FALSE(d.usageDelta);
}

TEST(TurnDiffEngineTest, SignificanceFilter) {
    struct Case {
        const char* name;
        TraceTurn previous, current;
        bool significant;
    };
    const Case cases[] = {
        {"nothing changed", makeTurn("p", 0), makeTurn("c", 1), false},
        {"model from absent", makeTurn("p", 0, {}, "t", std::nullopt), makeTurn("c", 1), true},
        {"both models absent", makeTurn("p", 0, {}, "t", std::nullopt),
         makeTurn("c", 1, {}, "t", std::nullopt), false},
        {"text", makeTurn("p", 0, {}, "a"), makeTurn("c", 1, {}, "b"), true},
        {"zero-sum usage delta", makeTurn("p", 0, {}, "t", "m", TokenUsage{100, 100, 0, 0}),
         makeTurn("c", 1, {}, "t", "m", TokenUsage{150, 50, 0, 0}), false},
        {"usage delta", makeTurn("p", 0, {}, "t", "m", TokenUsage{100, 100, 0, 0}),
         makeTurn("c", 1, {}, "t", "m", TokenUsage{150, 100, 0, 0}), true},
        {"one side without usage", makeTurn("p", 0), makeTurn("c", 1, {}, "t", "m", TokenUsage{1, 0, 0, 0}),
         false},
        {"tool removed", makeTurn("p", 0, {{"1", "Bash", "{}"}}), makeTurn("c", 1), true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TurnDiffEngine::diff(c.previous, c.current).isSignificant(), c.significant) << c.name;
    }
    const auto usage = TurnDiffEngine::diff(cases[4].previous, cases[4].current).usageDelta;
    EXPECT_EQ(usage, (TokenUsage{50, -50, 0, 0}));
}

TEST(TurnDiffEngineTest, AdjacentDiffsInTimeOrder) {
    EXPECT_TRUE(TurnDiffEngine::diffAdjacent({makeTurn("a", 0)}).empty());
    const auto kept = TurnDiffEngine::significantDiffs(
        {makeTurn("c", 2, {}, "y"), makeTurn("a", 0, {}, "x"), makeTurn("b", 1, {}, "x")});
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_EQ(kept[0].previousId, "b");
    EXPECT_EQ(kept[0].currentId, "c");
    EXPECT_EQ(kept[0].textPreviousLength, 1u);
    const auto emoji =
        TurnDiffEngine::diff(makeTurn("a", 0, {}, "👍🏽é"), makeTurn("b", 1, {}, "e\u0301"));
    EXPECT_EQ(emoji.textPreviousLength, 2u);
    EXPECT_EQ(emoji.textCurrentLength, 1u);
}

} // namespace
} // namespace perchwell
