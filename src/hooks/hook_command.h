#pragma once

#include "hooks/hook_input.h"
#include "hooks/hook_settings.h"
#include "hooks/review_policy_level.h"
#include "hooks/risk_rules.h"

#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// Turns one Claude Code hook event into an answer. Used by the hook process and by
// the application's socket server; keeps no state between events.
class HookCommand {
public:
    struct Decision {
        std::string decision; // "allow", "ask" or "deny"
        std::string reason;   // permissionDecisionReason
        std::string tag;      // short rule code; the reason column of the log

        bool operator==(const Decision&) const = default;
    };

    using CatastrophicCheck = RiskRule;
    using PathRule = RiskRule;

    // Input beyond this many bytes (plus one chunk) is not read.
    static constexpr size_t maxInputBytes = 2'097'152;

    // The whole hook process: read the event, answer, log.
    static void run(int inFd = 0, int outFd = 1);

    static Decision decide(std::optional<std::string_view> inputData, const HookSettings& settings,
                           ReviewPolicyLevel sessionPolicy);
    static Decision decide(const HookInput& input, const HookSettings& settings,
                           ReviewPolicyLevel sessionPolicy);

    static std::string formatDecisionJSON(const Decision& decision);
    // The answer for every event other than "PreToolUse", written with a line feed.
    static void emitEmpty(std::string_view eventName, int outFd = 1);
    static std::string emptyAnswerJSON(std::string_view eventName);

    // Appends one tab-separated line to the hook event log; failures are reported
    // once per process in the system log and otherwise ignored.
    static void appendLog(std::string_view toolName, std::string_view decision, std::string_view cwd,
                          std::string_view reason);
    static std::string hookEventsLogPath();

    static std::optional<std::string> extractSessionId(std::optional<std::string_view> from);
    static std::optional<std::string> extractEventName(std::optional<std::string_view> from);
    static std::optional<std::string> extractField(std::optional<std::string_view> from,
                                                   std::string_view key);

    // The tool name and every string of the tool input (HookInput::toolInput), joined
    // with single spaces.
    static std::string buildHaystack(std::string_view toolName,
                                     std::optional<std::span<const std::string_view>> toolInput);
    static bool matches(std::string_view needle, std::string_view haystack) {
        return keywordMatches(needle, haystack);
    }

    static const std::vector<CatastrophicCheck>& catastrophicChecks() { return catastrophicRuleTable(); }
    static const std::vector<PathRule>& defaultPathRules() { return pathRuleTable(); }

    static std::string sessionPoliciesPath();
    static std::map<std::string, ReviewPolicyLevel> loadAllSessionPolicies();
    static void saveSessionPolicies(const std::map<std::string, ReviewPolicyLevel>& policies);
    // Load the file, set one session's level ("global" removes its entry), save it.
    static void updateSessionPolicy(const std::string& sessionId, ReviewPolicyLevel level);
    // The level the decision uses for one session: "global" when anything is missing.
    static ReviewPolicyLevel sessionPolicy(const std::optional<std::string>& sessionId);

    static std::optional<std::string> readStdin(int fd = 0);

    // Lets a test see the once-per-process log report again.
    static void resetLogReportForTesting();
};

} // namespace perchwell
