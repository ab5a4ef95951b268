#include "analytics/trace_parser.h"
#include "analytics/transcript_pass.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace perchwell {
namespace {

std::string assistantLine(const std::string& message, const std::string& extra = "") {
    return R"({"type":"assistant","uuid":"a1","sessionId":"s1","timestamp":"2025-06-01T09:30:15.5Z")" +
           extra + R"(,"message":)" + message + "}";
}

TEST(TraceParserTest, LinesThatYieldNoEntry) {
    const std::string lines[] = {
        "",
        "not json",
        R"({"type":"assistant","uuid":"a1","sessionId":"s1","timestamp":"2025-06-01T09:30:15Z","message":"text"})",
        R"({"type":"user","uuid":"u1","sessionId":"s1","timestamp":"yesterday","message":{}})",
        R"({"type":"user","sessionId":"s1","timestamp":"2025-06-01T09:30:15Z","message":{}})",
        R"({"type":"attachment","uuid":"u1","sessionId":"s1","timestamp":"2025-06-01T09:30:15Z","message":{}})",
        R"({"type":"queue-operation","operation":"enqueue"})",
        R"({"parentUuid":"x","type":"assistant","message":{"usage":{"input_tok)",
        R"([{"type":"user"}])",
        std::string(
            R"({"type":"user","uuid":"u1","sessionId":"s1","timestamp":"2025-06-01T09:30:15Z","message":{}})") +
            " trailing",
        std::string(
            "{\"type\":\"user\",\"uuid\":\"u\0\",\"sessionId\":\"s\",\"timestamp\":\"2025-06-01T09:30:15Z\","
            "\"message\":{}}",
            86),
        "{\"type\":\"user\",\"uuid\":\"\xff\",\"sessionId\":\"s\",\"timestamp\":\"2025-06-01T09:30:15Z\","
        "\"message\":{}}",
    };
    for (const auto& line : lines) {
        EXPECT_FALSE(TraceParser::parse(line)) << line;
    }
    // Nesting beyond what strict readers accept, deep enough to exhaust a recursive
    // reader's stack, is refused; at the limit it is read.
    const auto nested = [](int depth) {
        return assistantLine(R"({"content":[{"type":"tool_use","name":"T","input":)" +
                             std::string(depth, '[') + std::string(depth, ']') + "}]}");
    };
    EXPECT_FALSE(TraceParser::parse(nested(500000)));
    const auto deepest = TraceParser::parse(nested(1020));
    ASSERT_TRUE(deepest);
    EXPECT_EQ(deepest->assistant()->toolUses.at(0).inputJSON.size(), 2040u);
    EXPECT_TRUE(TraceParser::parse(assistantLine(R"({"content":[{"type":"text","text":"[[[[\"]]"}]})")));
}

TEST(TraceParserTest, UserTextAndToolResults) {
    struct Case {
        std::string content;
        std::string text;
        bool toolResultsOnly;
    };
    const Case cases[] = {
        {R"("plain")", "plain", false},
        {R"([{"type":"text","text":"a"},{"type":"tool_result","content":[{"type":"text","text":"b"},{"type":"image"}]}])",
         "a\nb\n[image]", false},
        {R"([{"type":"tool_result","content":"out"},{"type":"tool_result","content":"more"}])", "out\nmore",
         true},
        {R"([{"type":"tool_result"}])", "", true},
        {R"(42)", "", false},
    };
    for (const auto& c : cases) {
        const auto entry = TraceParser::parse(R"({"type":"user","uuid":"u1","sessionId":"s1","cwd":"/w",)"
                                              R"("timestamp":"2025-06-01T09:30:15Z","message":{"content":)" +
                                              c.content + "}}");
        ASSERT_TRUE(entry && entry->user()) << c.content;
        EXPECT_EQ(entry->user()->text, c.text) << c.content;
        EXPECT_EQ(entry->user()->toolResultsOnly, c.toolResultsOnly) << c.content;
        EXPECT_EQ(entry->identifier(), "u-u1");
        EXPECT_EQ(entry->user()->cwd, "/w");
    }
}

TEST(TraceParserTest, AssistantToolsModelAndUsage) {
    const auto entry = TraceParser::parse(assistantLine(
        R"({"id":"msg_1","model":"opus","content":[{"type":"text","text":"hi"},{"type":"thinking","thinking":"x"},)"
        R"({"type":"tool_use","id":"t1","name":"Bash","input":{"z":1,"a":{"y":[1,"2"],"b":null}}},)"
        R"({"type":"tool_use","name":"Read"},{"type":"tool_use","id":"t3","input":{}},{"type":"text","text":"bye"}],)"
        R"("usage":{"input_tokens":12.9,"output_tokens":"12","cache_read_input_tokens":1e400,)"
        R"("cache_creation_input_tokens":99999999999999999999}})"));
    ASSERT_TRUE(entry && entry->assistant());
    const auto& turn = *entry->assistant();
    EXPECT_EQ(turn.text, "hi\nbye");
    EXPECT_EQ(turn.model, "opus");
    EXPECT_EQ(turn.messageId, "msg_1");
    EXPECT_DOUBLE_EQ(turn.timestamp, 1748770215.5);
    ASSERT_EQ(turn.toolUses.size(), 2u); // the block without a name is dropped
    EXPECT_EQ(turn.toolUses[0], (ToolUseBlock{"t1", "Bash", R"({"a":{"b":null,"y":[1,"2"]},"z":1})"}));
    EXPECT_EQ(turn.toolUses[1], (ToolUseBlock{std::nullopt, "Read", "{}"}));
    EXPECT_EQ(turn.usage, (TokenUsage{12, 0, 0, 0}));
    EXPECT_EQ(entry->identifier(), "a-a1");
    // The token path reads the same figures and leaves the texts out.
    const auto light =
        TraceParser::parseForTokens(assistantLine(R"({"id":"m","content":[{"type":"text","text":"t"}],)"
                                                  R"("usage":{"output_tokens":7}})"));
    ASSERT_TRUE(light && light->assistant());
    EXPECT_EQ(light->assistant()->usage, (TokenUsage{0, 7, 0, 0}));
    EXPECT_TRUE(light->assistant()->text.empty());
    // No usage object: no usage at all.
    EXPECT_FALSE(TraceParser::parse(assistantLine(R"({"usage":[1]})"))->assistant()->usage);
}

TEST(TranscriptPassTest, ReadsOnlyWhatChangedAndStartsOverWhenAFileIsReplaced) {
    const std::string root = testing::makeTempDir() + "/projects";
    const std::string file = root + "/-w/s1.jsonl";
    const std::string line = assistantLine(R"({"usage":{"output_tokens":1}})") + "\n";
    std::filesystem::create_directories(root + "/-w/s1/subagents");
    testing::writeFile(file, line + line.substr(0, 20));
    testing::writeFile(root + "/-w/s1/subagents/agent-1.jsonl", line);

    TranscriptPass pass(root, TranscriptPass::Options{1, false, false, {}});
    int seen = 0;
    int resets = 0;
    const auto visit = [&](unsigned, const TraceEntry&, const TranscriptPass::Line&) { ++seen; };
    const auto reset = [&] { ++resets; };
    auto outcome = pass.refresh(visit, reset);
    EXPECT_EQ(seen, 2); // the half-written line waits
    EXPECT_EQ(pass.files().size(), 2u);
    EXPECT_EQ(outcome.filesRead, 2u);

    // The rest of the half-written line arrives.
    testing::writeFile(file, line + line);
    seen = 0;
    outcome = pass.refresh(visit, reset);
    EXPECT_EQ(seen, 1);
    EXPECT_EQ(outcome.filesRead, 1u);
    EXPECT_FALSE(outcome.rebuilt);

    seen = 0;
    EXPECT_EQ(pass.refresh(visit, reset).filesRead, 0u);
    EXPECT_EQ(seen, 0);

    // Truncated: everything again.
    testing::writeFile(file, line);
    seen = 0;
    outcome = pass.refresh(visit, reset);
    EXPECT_TRUE(outcome.rebuilt);
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(seen, 2);

    // Removed: everything again, without it.
    std::filesystem::remove(file);
    seen = 0;
    EXPECT_TRUE(pass.refresh(visit, reset).rebuilt);
    EXPECT_EQ(seen, 1);
    testing::removeTree(std::filesystem::path(root).parent_path());
}

TEST(TranscriptPassTest, ALineLongerThanTheChunkIsReadWhole) {
    const std::string root = testing::makeTempDir() + "/projects";
    std::filesystem::create_directories(root + "/-w");
    const std::string big(3 * TranscriptLines::chunkBytes, 'x');
    testing::writeFile(root + "/-w/s.jsonl",
                       assistantLine(R"({"content":[{"type":"text","text":")" + big + R"("}]})") + "\n" +
                           assistantLine("{}") + "\n");
    const auto entries = TraceParser::scanAll(root);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].assistant()->text.size(), big.size());
    testing::removeTree(std::filesystem::path(root).parent_path());
}

} // namespace
} // namespace perchwell
