#include "hooks/hook_command.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace perchwell;
using Level = ReviewPolicyLevel;

namespace {

HookSettings defaults() {
    HookSettings s;
    s.dangerousKeywords = defaultDangerousKeywords();
    return s;
}

std::string bash(const std::string& command) {
    return nlohmann::json{
        {"hook_event_name", "PreToolUse"}, {"tool_name", "Bash"}, {"tool_input", {{"command", command}}}}
        .dump();
}

struct DecisionCase {
    const char* name;
    std::string input;
    Level policy;
    HookSettings settings;
    const char* decision;
    const char* tag;
};

HookSettings with(void (*change)(HookSettings&)) {
    HookSettings s = defaults();
    change(s);
    return s;
}

} // namespace

TEST(HookDecision, StepsInOrder) {
    const auto off = with([](HookSettings& s) { s.enabled = false; });
    const auto allOff = with([](HookSettings& s) { s.hardDeny = s.pathRules = s.safePromptOnly = false; });
    const DecisionCase cases[] = {
        {"empty input", "", Level::global, defaults(), "ask", "parse-fail"},
        {"not json", "{not json", Level::permissive, defaults(), "ask", "parse-fail"},
        {"top-level array", "[1,2]", Level::global, defaults(), "ask", "parse-fail"},
        {"top-level string", "\"Bash\"", Level::global, defaults(), "ask", "parse-fail"},
        {"manual wins over everything", bash("ls"), Level::manual, defaults(), "ask", "session-manual"},
        {"disabled global", bash("rm -rf /"), Level::global, off, "ask", "disabled"},
        {"disabled does not stop strict", bash("cat ~/.ssh/id_rsa"), Level::strict, off, "ask", "path:ssh"},
        {"disabled does not stop permissive", bash("ls"), Level::permissive, off, "allow",
         "session-permissive"},
        {"upper-case command is lowered", bash("RM -RF /"), Level::global, defaults(), "deny",
         "deny:rm-root"},
        {"permissive refuses catastrophic", bash("rm -rf $HOME"), Level::permissive, defaults(), "deny",
         "deny:rm-home-env"},
        {"permissive allows sensitive paths", bash("cat ~/.ssh/id_rsa"), Level::permissive, defaults(),
         "allow", "session-permissive"},
        {"permissive refuses even with hardDeny off", bash("shutdown now"), Level::permissive, allOff, "deny",
         "deny:shutdown"},
        {"global follows hardDeny off", bash("rm -rf /"), Level::global, allOff, "allow", "ok"},
        {"strict ignores switches", bash("rm -rf /"), Level::strict, allOff, "deny", "deny:rm-root"},
        {"strict keywords ignore switch", bash("git push --force"), Level::strict, allOff, "ask",
         "kw:git push --force"},
        {"strict clean command", bash("ls -la"), Level::strict, defaults(), "allow", "ok"},
        {"path before keyword", bash("delete ~/.aws/x"), Level::global, defaults(), "ask", "path:aws"},
        {"keyword", bash("please delete it"), Level::global, defaults(), "ask", "kw:delete"},
        {"catastrophic before path", bash("rm -rf / ~/.ssh"), Level::global, defaults(), "deny",
         "deny:rm-root"},
        {"clean", bash("echo hello"), Level::global, defaults(), "allow", "ok"},
        {"tool name alone is searched", R"({"tool_name":"DeleteFile","tool_input":[1]})", Level::global,
         defaults(), "ask", "kw:delete"},
        {"absent tool input", R"({"tool_name":"Read"})", Level::global, defaults(), "allow", "ok"},
        {"keys are not searched", R"({"tool_name":"X","tool_input":{"delete":"no"}})", Level::global,
         defaults(), "allow", "ok"},
        {"nested strings are searched", R"({"tool_name":"X","tool_input":{"a":[{"b":["/etc/passwd"]}]}})",
         Level::global, defaults(), "ask", "path:etc"},
        {"escaped NUL does not hide a command", R"({"tool_name":"X","tool_input":{"c":"ok\u0000rm -rf /"}})",
         Level::global, defaults(), "deny", "deny:rm-root"},
    };
    for (const auto& c : cases) {
        const auto d = HookCommand::decide(
            c.input.empty() ? std::nullopt : std::optional<std::string_view>(c.input), c.settings, c.policy);
        EXPECT_EQ(d.decision, c.decision) << c.name;
        EXPECT_EQ(d.tag, c.tag) << c.name;
    }
}

TEST(HookDecision, ReasonTexts) {
    struct Case {
        std::string input;
        Level policy;
        const char* reason;
    } cases[] = {
        {"", Level::global, "Perchwell: hook input not valid JSON"},
        {bash("ls"), Level::manual, "Perchwell: session policy = manual — all tool uses require approval"},
        {bash("ls"), Level::permissive, "Perchwell: session policy = permissive"},
        {bash("rm -rf /"), Level::global,
         "Perchwell: refused — rm -rf at filesystem root. If you really mean it, run it manually outside "
         "cc."},
        {bash("cat .env"), Level::global,
         "Perchwell: touches .env file — environment secrets — defer to user"},
        {bash("DROP DATABASE x"), Level::global,
         "Perchwell: dangerous keyword 'drop database' detected — defer to user"},
        {bash("ls"), Level::global, "Perchwell policy approved"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HookCommand::decide(c.input, defaults(), c.policy).reason, c.reason);
    }
    HookSettings off = defaults();
    off.enabled = false;
    EXPECT_EQ(HookCommand::decide(bash("ls"), off, Level::global).reason,
              "Perchwell hook disabled — defer to user");
}

TEST(HookDecision, KeywordsAreLoweredTrimmedAndEmptyOnesSkipped) {
    HookSettings s = defaults();
    s.dangerousKeywords = {"", " \t ", "\n", "  Delete ", "never"};
    const auto d = HookCommand::decide(bash("deleted files"), s, Level::global);
    EXPECT_EQ(d.tag, "kw:delete");
    EXPECT_EQ(d.reason, "Perchwell: dangerous keyword 'delete' detected — defer to user");

    // A line feed is not trimmed, so the keyword keeps it and does not match a space.
    s.dangerousKeywords = {"delete\n"};
    EXPECT_EQ(HookCommand::decide(bash("delete files"), s, Level::global).tag, "ok");
}

TEST(HookDecision, HaystackDepthLimit) {
    // tool_input's own values are depth 1; a string at depth 31 is searched, at 32 it is not.
    auto nested = [](int depth) {
        nlohmann::json value = "rm -rf /";
        for (int d = depth; d > 1; --d) {
            value = nlohmann::json::array({value});
        }
        return nlohmann::json{{"tool_name", "X"}, {"tool_input", {{"k", value}}}}.dump();
    };
    EXPECT_EQ(HookCommand::decide(nested(31), defaults(), Level::global).tag, "deny:rm-root");
    EXPECT_EQ(HookCommand::decide(nested(32), defaults(), Level::global).tag, "ok");
}

TEST(HookDecision, HaystackJoinsToolNameAndStringsWithSpaces) {
    const HookInput parsed = HookInput::parse(R"({"tool_input":{"a":"x","b":[1,"y",{"c":"z"}],"d":null}})");
    const auto input = parsed.toolInput();
    EXPECT_EQ(HookCommand::buildHaystack("Tool", input), "Tool x y z");
    EXPECT_EQ(HookCommand::buildHaystack("", input), " x y z");
    EXPECT_EQ(HookCommand::buildHaystack("Tool", std::nullopt), "Tool");
}

// Hostile input never crashes and never turns a required "ask" into "allow".
TEST(HookDecision, HostileInputAsksOrJudgesSafely) {
    const HookSettings s = defaults();
    std::string bigValid = bash(std::string(2 * 1024 * 1024, 'a') + " rm -rf /");
    EXPECT_EQ(HookCommand::decide(bigValid, s, Level::global).tag, "deny:rm-root");

    std::string truncated = bigValid.substr(0, bigValid.size() / 2);
    EXPECT_EQ(HookCommand::decide(truncated, s, Level::global).tag, "parse-fail");

    std::string deep(100000, '[');
    EXPECT_EQ(HookCommand::decide("{\"tool_input\":{\"a\":" + deep + "}}", s, Level::global).tag,
              "parse-fail");

    std::string invalidUtf8 = R"({"tool_name":"Bash","tool_input":{"command":"ls \xff\xfe"}})";
    EXPECT_EQ(HookCommand::decide(invalidUtf8, s, Level::global).tag, "parse-fail");

    std::string rawNul = std::string("{\"tool_name\":\"Bash\",\"tool_input\":{\"c\":\"a") + '\0' + "b\"}}";
    EXPECT_EQ(HookCommand::decide(rawNul, s, Level::global).tag, "parse-fail");

    std::string nulAfter = bash("ls") + std::string("\0\0", 2);
    EXPECT_EQ(HookCommand::decide(nulAfter, s, Level::global).decision, "ask");
}

// Numbers are never read, so none is refused for its size or precision.
TEST(HookDecision, NumbersOfAnySizeAreJudgedNotRefused) {
    for (const char* number : {"123456789012345678901", "-123456789012345678901234567890", "1e400",
                               "0.1234567890123456789012345678901234567890", "18446744073709551616"}) {
        const std::string input = std::string(R"({"tool_name":"Bash","tool_input":{"n":)") + number +
                                  R"(,"command":"rm -rf /"},"size":)" + number + "}";
        EXPECT_EQ(HookCommand::decide(input, defaults(), Level::global).tag, "deny:rm-root") << number;
        EXPECT_EQ(HookCommand::extractField(input, "tool_name"), "Bash") << number;
    }
    // Still JSON numbers: malformed ones are not.
    for (const char* number : {"01", "1.", "-", "1e", "+1", "0x10", "NaN", "Infinity"}) {
        const std::string input = std::string(R"({"tool_name":"Bash","tool_input":{"n":)") + number + "}}";
        EXPECT_EQ(HookCommand::decide(input, defaults(), Level::global).tag, "parse-fail") << number;
    }
}

// What counts as valid input is what a strict JSON reader accepts.
TEST(HookDecision, InputValidityAtTheEdges) {
    const auto nested = [](int levels, const char* inner) {
        return R"({"tool_name":"Read","tool_input":{"a":)" + std::string(levels, '[') + inner +
               std::string(levels, ']') + "}}";
    };
    const struct {
        const char* name;
        std::string input;
        const char* tag;
    } cases[] = {
        // The root object and tool_input take two of the 1024 levels.
        {"1024 levels", nested(1022, ""), "ok"},
        {"1025 levels", nested(1022, "1"), "parse-fail"},
        {"lone low surrogate escape", R"({"tool_name":"Read","tool_input":{"a":"\udc00"}})", "parse-fail"},
        {"lone high surrogate escape", R"({"tool_name":"Read","tool_input":{"a":"\ud800"}})", "parse-fail"},
        {"surrogate pair escape", R"({"tool_name":"Read","tool_input":{"a":"\ud83d\ude00"}})", "ok"},
        {"byte order mark", "\xEF\xBB\xBF{\"tool_name\":\"Read\"}", "parse-fail"},
        {"trailing white space", "{\"tool_name\":\"Read\"} \t\r\n", "ok"},
        {"second value", R"({"tool_name":"Read"} {})", "parse-fail"},
        {"trailing comma", R"({"tool_name":"Read",})", "parse-fail"},
        {"comment", R"({"tool_name":"Read"/**/})", "parse-fail"},
        {"control character in a string", "{\"tool_name\":\"Re\x01\x61\x64\"}", "parse-fail"},
        {"control character 0x1f in a string", "{\"tool_name\":\"Re\x1f\x61\x64\"}", "parse-fail"},
        {"control character 0x1a in a key", "{\"tool\x1a\":\"Read\"}", "parse-fail"},
        {"control character 0x1a between values", "{\"tool_name\":\"Read\"\x1a}", "parse-fail"},
        {"escaped key", R"({"tool\u005fname":"Delete"})", "kw:delete"},
        // The first of repeated keys counts, also for tool_input.
        {"repeated tool name", R"({"tool_name":"Read","tool_name":"Delete"})", "ok"},
        {"repeated tool input", R"({"tool_input":{"c":"ls"},"tool_input":{"c":"rm -rf /"}})", "ok"},
        {"tool input not first an object", R"({"tool_input":"rm -rf /","tool_input":{"c":"rm -rf /"}})",
         "ok"},
        // Strings of every object inside tool_input, but never its keys.
        {"repeated inner keys", R"({"tool_input":{"c":"ls","c":"rm -rf /"}})", "deny:rm-root"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HookCommand::decide(c.input, defaults(), Level::global).tag, c.tag) << c.name;
    }
}
