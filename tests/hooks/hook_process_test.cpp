// Runs the real `perchwell hook` in the test's temporary HOME.
#include "hooks/hook_command.h"
#include "support/process.h"
#include "support/temp_home.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

using namespace perchwell;
using perchwell::testing::runProcess;
using perchwell::testing::TempHome;

namespace {

std::string perchwellBin() {
    return perchwell::testing::binaryPath("perchwell");
}

perchwell::testing::ProcessResult hook(const std::string& input) {
    return runProcess({perchwellBin(), "hook"}, input);
}

std::string decisionTag(const perchwell::testing::ProcessResult& r) {
    const auto j = nlohmann::json::parse(r.out);
    return j["hookSpecificOutput"]["permissionDecision"].get<std::string>() + "|" +
           j["hookSpecificOutput"]["permissionDecisionReason"].get<std::string>();
}

std::vector<std::vector<std::string>> logRows() {
    std::vector<std::vector<std::string>> rows;
    std::istringstream in(perchwell::testing::readFile(HookCommand::hookEventsLogPath()));
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> cols;
        size_t start = 0;
        for (size_t tab; (tab = line.find('\t', start)) != std::string::npos; start = tab + 1) {
            cols.push_back(line.substr(start, tab - start));
        }
        cols.push_back(line.substr(start));
        rows.push_back(cols);
    }
    return rows;
}

std::string preToolUse(const std::string& session, const std::string& command) {
    return nlohmann::json{{"hook_event_name", "PreToolUse"},
                          {"session_id", session},
                          {"tool_name", "Bash"},
                          {"tool_input", {{"command", command}}},
                          {"cwd", "/proj"}}
        .dump();
}

} // namespace

TEST(HookProcess, EventsAndMalformedInput) {
    TempHome home;
    struct Case {
        std::string input;
        std::string stdoutLine;
        std::vector<std::string> logColumns; // decision, tool, reason, cwd
    } cases[] = {
        {"",
         R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask","permissionDecisionReason":"Perchwell: hook input not valid JSON"}})",
         {"ask", "", "parse-fail", ""}},
        {"{oops",
         R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask","permissionDecisionReason":"Perchwell: hook input not valid JSON"}})",
         {"ask", "", "parse-fail", ""}},
        {R"({"hook_event_name":"Stop","cwd":"/w"})",
         R"({"hookSpecificOutput":{"hookEventName":"Stop"}})",
         {"ack", "", "evt:stop", "/w"}},
        {R"({"hook_event_name":"UserPromptSubmit","tool_name":"T"})",
         R"({"hookSpecificOutput":{"hookEventName":"UserPromptSubmit"}})",
         {"ack", "T", "evt:userpromptsubmit", ""}},
        {R"({"hook_event_name":"pretooluse","tool_name":"Bash","tool_input":{"command":"rm -rf /"}})",
         R"({"hookSpecificOutput":{"hookEventName":"pretooluse"}})",
         {"ack", "Bash", "evt:pretooluse", ""}},
        {preToolUse("s", "ls"),
         R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"allow","permissionDecisionReason":"Perchwell policy approved"}})",
         {"allow", "Bash", "ok", "/proj"}},
        // A number wider than 64 bits is still JSON: the event is judged.
        {R"({"hook_event_name":"PreToolUse","tool_name":"Bash","tool_input":{"command":"rm -rf /","timeout":123456789012345678901}})",
         R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"deny","permissionDecisionReason":"Perchwell: refused — rm -rf at filesystem root. If you really mean it, run it manually outside cc."}})",
         {"deny", "Bash", "deny:rm-root", ""}},
    };
    for (const auto& c : cases) {
        const auto r = hook(c.input);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.out, c.stdoutLine + "\n");
        const auto rows = logRows();
        ASSERT_FALSE(rows.empty());
        ASSERT_EQ(rows.back().size(), 5u);
        EXPECT_EQ(std::vector<std::string>(rows.back().begin() + 1, rows.back().end()), c.logColumns)
            << c.input;
    }
}

TEST(HookProcess, ReadsPoliciesAndSettingsFromStorage) {
    struct Case {
        const char* defaults;
        const char* policies;
        std::string input;
        std::string expected;
    } cases[] = {
        {nullptr, R"({"s1":"manual"})", preToolUse("s1", "ls"),
         "ask|Perchwell: session policy = manual — all tool uses require approval"},
        {nullptr, R"({"s1":"manual"})", preToolUse("s2", "ls"), "allow|Perchwell policy approved"},
        {R"({"pv.hookEnabled":false})", nullptr, preToolUse("s1", "rm -rf /"),
         "ask|Perchwell hook disabled — defer to user"},
        {R"({"pv.hookEnabled":false})", R"({"s1":"strict"})", preToolUse("s1", "rm -rf /"),
         "deny|Perchwell: refused — rm -rf at filesystem root. If you really mean it, run it manually "
         "outside cc."},
        {R"({"pv.dangerousKeywordsJSON":"[\"Frobnicate\"]"})", nullptr, preToolUse("s1", "frobnicate now"),
         "ask|Perchwell: dangerous keyword 'frobnicate' detected — defer to user"},
        {R"({"pv.dangerousKeywordsJSON":"[]"})", nullptr, preToolUse("s1", "git commit --no-verify"),
         "ask|Perchwell: dangerous keyword '--no-verify' detected — defer to user"},
        {R"({"pv.safePromptOnly":false})", nullptr, preToolUse("s1", "delete it"),
         "allow|Perchwell policy approved"},
        {R"({"pv.hookPathRules":false,"pv.hookHardDeny":false,"pv.safePromptOnly":false})", nullptr,
         preToolUse("s1", "rm -rf ~/.ssh"), "allow|Perchwell policy approved"},
        {"garbage", "garbage", preToolUse("s1", "cat ~/.aws/config"),
         "ask|Perchwell: touches ~/.aws — AWS credentials — defer to user"},
    };
    for (const auto& c : cases) {
        TempHome home;
        if (c.defaults) {
            perchwell::testing::writeFile(home.path() + "/.config/perchwell/defaults.json", c.defaults);
        }
        if (c.policies) {
            perchwell::testing::writeFile(HookCommand::sessionPoliciesPath(), c.policies);
        }
        const auto r = hook(c.input);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(decisionTag(r), c.expected) << (c.defaults ? c.defaults : "") << " " << c.input;
    }
}

TEST(HookProcess, SwitchesWrittenAsTextOrNumbersReadAsBooleans) {
    const std::string refused =
        "deny|Perchwell: refused — rm -rf at filesystem root. If you really mean it, run "
        "it manually outside cc.";
    const std::string keyword = "ask|Perchwell: dangerous keyword 'rm -rf' detected — defer to user";
    const struct {
        nlohmann::json hardDeny;
        std::string expected;
        bool logged; // not a boolean: the registered default (on), said on standard error
    } cases[] = {
        {"true", refused, false}, {"TRUE", refused, false},  {"yes", refused, false}, {"1", refused, false},
        {1, refused, false},      {"false", keyword, false}, {"No", keyword, false},  {"0", keyword, false},
        {0, keyword, false},      {"maybe", refused, true},  {2, refused, true},
    };
    for (const auto& c : cases) {
        TempHome home;
        perchwell::testing::writeFile(home.path() + "/.config/perchwell/defaults.json",
                                      nlohmann::json{{"pv.hookHardDeny", c.hardDeny}}.dump());
        const auto r = hook(preToolUse("s1", "rm -rf /"));
        EXPECT_EQ(decisionTag(r), c.expected) << c.hardDeny.dump();
        EXPECT_EQ(r.err.find("pv.hookHardDeny = " + c.hardDeny.dump() +
                             " is not a boolean; using true instead") != std::string::npos,
                  c.logged)
            << r.err;
    }
    TempHome home;
    perchwell::testing::writeFile(home.path() + "/.config/perchwell/defaults.json",
                                  R"({"pv.hookEnabled":"no"})");
    EXPECT_EQ(decisionTag(hook(preToolUse("s1", "rm -rf /"))), "ask|Perchwell hook disabled — defer to user");
}

TEST(HookProcess, HostileInputAndClosedStdoutStillExitZero) {
    TempHome home;
    const std::string oversized = preToolUse("s", std::string(3 * 1024 * 1024, 'x'));
    const std::string deep = "{\"tool_input\":" + std::string(200000, '[') + "}";
    const std::string badUtf8 = preToolUse("s", "ls") + "\xff";
    for (const std::string& input : {oversized, deep, badUtf8, std::string("\0\0\0", 3)}) {
        const auto r = hook(input);
        EXPECT_EQ(r.exitCode, 0);
        EXPECT_EQ(r.termSignal, 0);
        EXPECT_EQ(decisionTag(r), "ask|Perchwell: hook input not valid JSON");
    }
    const auto closed =
        runProcess({perchwellBin(), "hook"}, preToolUse("s", "ls"), /*closeStdoutEarly=*/true);
    EXPECT_EQ(closed.termSignal, 0);
    EXPECT_EQ(closed.exitCode, 0);
}

namespace {

// Every row is whole (five columns, the padding intact) and each cwd appears once.
void expectWholeUniqueRows(const std::string& padding, size_t expected) {
    std::set<std::string> seen;
    for (const auto& row : logRows()) {
        ASSERT_EQ(row.size(), 5u);
        EXPECT_EQ(row[1], "ack");
        EXPECT_EQ(row[3], "evt:stop");
        ASSERT_GT(row[4].size(), padding.size());
        EXPECT_EQ(row[4].substr(row[4].size() - padding.size()), padding);
        EXPECT_TRUE(seen.insert(row[4]).second) << "duplicate line";
    }
    EXPECT_EQ(seen.size(), expected);
}

} // namespace

TEST(HookProcess, ConcurrentAppendsKeepEveryLineWhole) {
    // Long lines make torn writes visible if appends ever interleave.
    const std::string padding(3000, 'p');
    constexpr int writers = 8;
    {
        TempHome home;
        constexpr int linesEach = 300;
        std::vector<std::thread> workers;
        for (int p = 0; p < writers; ++p) {
            workers.emplace_back([&, p] {
                runProcess({perchwell::testing::binaryPath("hook_log_appender"), "w" + std::to_string(p),
                            std::to_string(linesEach), std::to_string(padding.size())});
            });
        }
        for (auto& w : workers) {
            w.join();
        }
        expectWholeUniqueRows(padding, writers * linesEach);
    }
    {
        // The same through real hook processes, several rounds each.
        TempHome home;
        constexpr int rounds = 25;
        std::vector<std::thread> workers;
        for (int p = 0; p < writers; ++p) {
            workers.emplace_back([&, p] {
                for (int i = 0; i < rounds; ++i) {
                    const std::string cwd = "h" + std::to_string(p) + "-" + std::to_string(i) + "-" + padding;
                    runProcess({perchwellBin(), "hook"},
                               R"({"hook_event_name":"Stop","cwd":")" + cwd + "\"}");
                }
            });
        }
        for (auto& w : workers) {
            w.join();
        }
        expectWholeUniqueRows(padding, writers * rounds);
    }
}

TEST(HookBinary, LinksNoQt) {
    const auto needed = runProcess({"/usr/bin/readelf", "-d", perchwellBin()});
    ASSERT_EQ(needed.exitCode, 0) << needed.err;
    EXPECT_NE(needed.out.find("(NEEDED)"), std::string::npos);
    EXPECT_EQ(needed.out.find("libQt"), std::string::npos) << needed.out;
    const auto loaded = runProcess({"/usr/bin/ldd", perchwellBin()});
    ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
    EXPECT_EQ(loaded.out.find("libQt"), std::string::npos) << loaded.out;
}
