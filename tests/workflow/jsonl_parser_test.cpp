#include "workflow/jsonl_parser.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

using JSONLParser::parse;
using JSONLParser::parseTimestamp;

constexpr double kT0 = 1748770215.0; // 2025-06-01T09:30:15Z

std::string userLine(const std::string& extra, const std::string& message = R"({"content":"hi"})") {
    return R"({"type":"user","uuid":"u1","sessionId":"s1","timestamp":"2025-06-01T09:30:15Z","message":)" +
           message + extra + "}";
}

TEST(JSONLParserTest, LinesWithoutUsableRecordAreAbsent) {
    const char* lines[] = {
        R"({"summary":"x"})",
        R"({"type":3})",
        R"([{"type":"user"}])",
        R"({})",
        R"({"type":"user",)",
        "not json",
        "\"user\"",
        R"({"type":"user","sessionId":"s","timestamp":"2025-06-01T09:30:15Z","message":{}})",
        R"({"type":"user","uuid":"u","timestamp":"2025-06-01T09:30:15Z","message":{}})",
        R"({"type":"user","uuid":"u","sessionId":"s","message":{}})",
        R"({"type":"user","uuid":"u","sessionId":"s","timestamp":"yesterday","message":{}})",
        R"({"type":"user","uuid":"u","sessionId":"s","timestamp":"2025-06-01T09:30:15Z"})",
        R"({"type":"user","uuid":"u","sessionId":"s","timestamp":"2025-06-01T09:30:15Z","message":"hi"})",
        R"({"type":"assistant","uuid":"a","sessionId":"s","timestamp":"2025-06-01T09:30:15Z"})",
        R"({"type":"assistant","uuid":7,"sessionId":"s","timestamp":"2025-06-01T09:30:15Z","message":{}})",
        "{\"type\":\"summary\",\"summary\":\"\xff\xfe\"}", // not UTF-8
    };
    for (const char* line : lines) {
        EXPECT_FALSE(parse(line).has_value()) << line;
    }
}

TEST(JSONLParserTest, OtherLinesKeepTheirType) {
    EXPECT_EQ(parse(R"({"type":"summary","summary":"x"})"), JSONLEntry{OtherEntry{"summary"}});
    EXPECT_EQ(parse(R"({"type":"User","uuid":"u"})"), JSONLEntry{OtherEntry{"User"}});
    EXPECT_EQ(parse(R"({"type":"system","content":"x","level":"info"})"), JSONLEntry{OtherEntry{"system"}});
}

TEST(JSONLParserTest, UserLineWithAllFields) {
    const auto entry = parse(
        R"({"parentUuid":"p0","cwd":"/w","sessionId":"s1","gitBranch":"main","type":"user",)"
        R"("message":{"role":"user","content":"fix it "},"uuid":"u1","timestamp":"2025-06-01T09:30:15.250Z",)"
        R"("permissionMode":"plan","promptId":"pr1","isMeta":true})");
    ASSERT_TRUE(entry);
    const UserEntry expected{"u1", "pr1", "s1", kT0 + 0.25, "/w", "main", "fix it ", "plan", "p0"};
    EXPECT_EQ(std::get<UserEntry>(*entry), expected);
}

TEST(JSONLParserTest, UserContentExtraction) {
    struct Case {
        std::string message;
        std::string content;
    };
    const Case cases[] = {
        {R"({"role":"user"})", ""},
        {R"({"content":""})", ""},
        {R"({"content":[{"type":"tool_result","tool_use_id":"t","content":"big"}]})", "[tool_result]"},
        {R"({"content":[{"type":"text","text":"a"},{"type":"tool_result"},{"type":"text","text":"b"}]})",
         "a\n[tool_result]\nb"},
        {R"({"content":[{"type":"text","text":"a"},"stray"]})", ""},
        {R"({"content":[{},{"text":"x"},{"type":5},{"type":"image","source":{}},{"type":"text","text":7},)"
         R"({"type":"text","text":"kept"}]})",
         "kept"},
        {R"({"content":42})", ""},
        {R"({"content":{"type":"text","text":"x"}})", ""},
        {R"({"content":[]})", ""},
    };
    for (const auto& c : cases) {
        const auto entry = parse(userLine("", c.message));
        ASSERT_TRUE(entry) << c.message;
        EXPECT_EQ(std::get<UserEntry>(*entry).content, c.content) << c.message;
    }
}

TEST(JSONLParserTest, OptionalFieldsOfWrongTypeAreAbsent) {
    const auto entry = parse(userLine(R"(,"cwd":null,"gitBranch":42,"promptId":{},"parentUuid":null)"));
    ASSERT_TRUE(entry);
    const auto& user = std::get<UserEntry>(*entry);
    EXPECT_FALSE(user.cwd);
    EXPECT_FALSE(user.gitBranch);
    EXPECT_FALSE(user.promptId);
    EXPECT_FALSE(user.parentUuid);
}

TEST(JSONLParserTest, AssistantTextAndTools) {
    const auto entry = parse(
        R"({"type":"assistant","uuid":"a1","sessionId":"s1","timestamp":"2025-06-01T09:30:15Z","cwd":"/w",)"
        R"("promptId":"ignored","permissionMode":"ignored","message":{"content":[)"
        R"({"type":"thinking","thinking":"hmm"},{"type":"text","text":"Done"},)"
        R"({"type":"tool_use","name":"Bash","input":{}},{"type":"tool_use","name":"Bash"},{"type":"tool_use"},)"
        R"({"type":"text","text":"More"}],"usage":{"input_tokens":3}}})");
    ASSERT_TRUE(entry);
    const AssistantEntry expected{"a1",        "s1", kT0, "/w", std::nullopt, "Done\nMore", {"Bash", "Bash"},
                                  std::nullopt};
    EXPECT_EQ(std::get<AssistantEntry>(*entry), expected);

    const auto plain =
        parse(R"({"type":"assistant","uuid":"a","sessionId":"s","timestamp":"2025-06-01T09:30:15Z",)"
              R"("message":{"content":"just text"}})");
    ASSERT_TRUE(plain);
    EXPECT_EQ(std::get<AssistantEntry>(*plain).textContent, "just text");
    const auto mixed =
        parse(R"({"type":"assistant","uuid":"a","sessionId":"s","timestamp":"2025-06-01T09:30:15Z",)"
              R"("message":{"content":[{"type":"text","text":"x"},1]}})");
    ASSERT_TRUE(mixed);
    EXPECT_EQ(std::get<AssistantEntry>(*mixed).textContent, "");
}

// Numbers too large for 64 bits or a double are valid JSON; no field we read is a number.
TEST(JSONLParserTest, NumbersBeyondWhatTheDecoderHoldsDoNotDropTheLine) {
    const char* valid[] = {"123456789012345678901",
                           "-123456789012345678901",
                           "18446744073709551616",
                           "1e400",
                           "-1E+400",
                           "1.5e-400",
                           "1e99999999999999999999",
                           "0.1e400"};
    const char* malformed[] = {"01",     "1.", "1e400 2", "+1",      "-",       "1e",
                               "1e400x", ".5", "1e400,",  "0x1e400", "1e400.5", "truenull"};
    const AssistantEntry done{"a1", "s1", kT0, std::nullopt, std::nullopt, "Done", {"Edit"}, std::nullopt};
    const auto lines = [](const std::string& number) {
        return std::pair{
            R"({"type":"assistant","uuid":"a1","sessionId":"s1","timestamp":"2025-06-01T09:30:15Z","message":)"
            R"({"content":[{"type":"text","text":"Done"},{"type":"tool_use","name":"Edit","input":{"n":[0,)" +
                number + R"(,{"big":)" + number + "}]}}]}}",
            userLine(R"(,"toolUseResult":{"size":)" + number + "}")};
    };
    for (const char* number : valid) {
        const auto [assistant, user] = lines(number);
        EXPECT_EQ(parse(assistant), JSONLEntry{done}) << number;
        EXPECT_TRUE(parse(user).has_value()) << number;
    }
    for (const char* number : malformed) {
        const auto [assistant, user] = lines(number);
        EXPECT_FALSE(parse(assistant).has_value()) << number;
        EXPECT_FALSE(parse(user).has_value()) << number;
    }
    // Quotes escaped inside a string do not end it; what looks like a number there is text.
    const auto entry =
        parse(userLine(R"(,"n":1e400,"cwd":"say \"1e400\" \\","gitBranch":"-12345678901234567890123")"));
    ASSERT_TRUE(entry);
    EXPECT_EQ(std::get<UserEntry>(*entry).cwd, R"(say "1e400" \)");
    EXPECT_EQ(std::get<UserEntry>(*entry).gitBranch, "-12345678901234567890123");
    // Still not an object, still truncated, still malformed elsewhere.
    for (const char* line :
         {"1e400", R"([{"type":"summary","n":1e400}])", R"({"type":"summary","n":1e400)",
          R"({"type":"summary","n":1e400,"s":"open})", R"({"type":"summary","n":1e400,"m":tru})"}) {
        EXPECT_FALSE(parse(line).has_value()) << line;
    }
}

TEST(JSONLParserTest, TimestampsAcceptedAndRejected) {
    struct Case {
        const char* text;
        std::optional<double> seconds;
    };
    const Case cases[] = {
        {"2025-06-01T09:30:15Z", kT0},
        {"2025-06-01T09:30:15.123Z", kT0 + 0.123},
        {"2025-06-01T09:30:15.5+02:00", kT0 - 7200 + 0.5},
        {"2025-06-01T09:30:15-05:30", kT0 + 5.5 * 3600},
        {"2024-02-29T00:00:00Z", 1709164800.0},
        {"1970-01-01T00:00:00Z", 0.0},
        {"1969-12-31T23:59:59Z", -1.0},
        {"2025-06-01T09:30:15.123456789123Z", kT0 + 0.123456789},
        {"2025-06-01 09:30:15", std::nullopt},
        {"2025-06-01T09:30:15", std::nullopt},
        {"2025-06-01", std::nullopt},
        {"2025-02-29T00:00:00Z", std::nullopt},
        {"2025-04-31T00:00:00Z", std::nullopt},
        {"2025-13-01T00:00:00Z", std::nullopt},
        {"2025-06-01T24:00:00Z", std::nullopt},
        {"2025-06-01T09:60:00Z", std::nullopt},
        {"2025-06-01T09:30:15.Z", std::nullopt},
        {"2025-06-01T09:30:15+0200", std::nullopt},
        {"2025-06-01T09:30:15Zjunk", std::nullopt},
        {"2025-6-01T09:30:15Z", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto parsed = parseTimestamp(c.text);
        ASSERT_EQ(parsed.has_value(), c.seconds.has_value()) << c.text;
        if (parsed) {
            EXPECT_NEAR(*parsed, *c.seconds, 1e-6) << c.text;
        }
    }
}

} // namespace
} // namespace perchwell
