#include "common/system_log.h"
#include "hooks/hook_command.h"
#include "platform/paths.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sys/stat.h>

using namespace perchwell;
using perchwell::testing::TempHome;

TEST(HookCommandFormat, DecisionJSONIsCompactAndValidWhateverTheReasonHolds) {
    for (const std::string& reason : {std::string("plain"), std::string("quote \" backslash \\ tab \t nl \n"),
                                      std::string("ctl \x01 \x1f"), std::string("dash — é 😀")}) {
        const std::string text = HookCommand::formatDecisionJSON({"deny", reason, "t"});
        EXPECT_EQ(text.find('\n'), std::string::npos);
        const auto parsed = nlohmann::json::parse(text);
        EXPECT_EQ(parsed["hookSpecificOutput"]["hookEventName"], "PreToolUse");
        EXPECT_EQ(parsed["hookSpecificOutput"]["permissionDecision"], "deny");
        EXPECT_EQ(parsed["hookSpecificOutput"]["permissionDecisionReason"], reason);
        EXPECT_EQ(parsed["hookSpecificOutput"].size(), 3u);
    }
    // Bytes that cannot be serialised give the fixed "ask" answer.
    const auto fallback = nlohmann::json::parse(HookCommand::formatDecisionJSON({"allow", "bad \xff", "t"}));
    EXPECT_EQ(fallback["hookSpecificOutput"]["permissionDecision"], "ask");
    EXPECT_EQ(fallback["hookSpecificOutput"]["permissionDecisionReason"],
              "Perchwell: output serialization failed — defer to user");
}

TEST(HookCommandFormat, EmptyAnswerStaysValidJSONForAnyEventName) {
    EXPECT_EQ(HookCommand::emptyAnswerJSON("Stop"), R"({"hookSpecificOutput":{"hookEventName":"Stop"}})");
    for (const std::string& name : {std::string("a\"b\\c"), std::string("bad \xc3"), std::string("\n")}) {
        const auto parsed = nlohmann::json::parse(HookCommand::emptyAnswerJSON(name));
        EXPECT_TRUE(parsed["hookSpecificOutput"]["hookEventName"].is_string());
    }
}

TEST(HookCommandExtract, StringFieldsOnly) {
    struct Case {
        std::optional<std::string> input;
        std::optional<std::string> sessionId;
    } cases[] = {
        {std::nullopt, std::nullopt},
        {"", std::nullopt},
        {"nope", std::nullopt},
        {"[]", std::nullopt},
        {R"({"session_id":5})", std::nullopt},
        {R"({"session_id":"abc","hook_event_name":"Stop"})", "abc"},
        {R"({"x":{"session_id":"nested"}})", std::nullopt},
    };
    for (const auto& c : cases) {
        std::optional<std::string_view> in;
        if (c.input) {
            in = *c.input;
        }
        EXPECT_EQ(HookCommand::extractSessionId(in), c.sessionId);
    }
    EXPECT_EQ(HookCommand::extractEventName(R"({"hook_event_name":"Stop"})"), "Stop");
    EXPECT_EQ(HookCommand::extractField(R"({"cwd":"/w"})", "cwd"), "/w");
}

TEST(HookCommandLog, LineColumnsAndOwnerOnlyFiles) {
    TempHome home;
    HookCommand::appendLog("Bash", "allow", "/work dir", "ok");
    HookCommand::appendLog("", "ack", "", "evt:stop");
    const std::string log = perchwell::testing::readFile(HookCommand::hookEventsLogPath());
    const auto firstEnd = log.find('\n');
    ASSERT_NE(firstEnd, std::string::npos);
    const std::string first = log.substr(0, firstEnd);
    // 2026-01-01T00:00:00Z
    ASSERT_GE(first.size(), 20u);
    EXPECT_EQ(first[4], '-');
    EXPECT_EQ(first[10], 'T');
    EXPECT_EQ(first[19], 'Z');
    EXPECT_EQ(first.substr(20), "\tallow\tBash\tok\t/work dir");
    EXPECT_EQ(log.substr(firstEnd + 21), "\tack\t\tevt:stop\t\n");

    struct stat st {};
    ASSERT_EQ(::stat(HookCommand::hookEventsLogPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    ASSERT_EQ(::stat(Paths::dataDirectory().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST(HookCommandLog, FailureIsReportedOncePerProcess) {
    TempHome home;
    // A file where the data directory should be makes every append fail.
    perchwell::testing::writeFile(home.path() + "/.local/share/perchwell", "blocker");
    std::vector<std::string> lines;
    systemlog::setSink([&](std::string_view line) { lines.emplace_back(line); });
    HookCommand::resetLogReportForTesting();
    HookCommand::appendLog("Bash", "allow", "", "ok");
    HookCommand::appendLog("Bash", "allow", "", "ok");
    systemlog::setSink({});
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(
        lines[0].rfind("[Perchwell hook] hook-events.log unavailable — Dashboard counts will be incomplete: "
                       "mkdir failed: ",
                       0),
        0u)
        << lines[0];
}
