#include "hooks/hook_command.h"

#include "common/file_util.h"
#include "common/utf8.h"
#include "platform/defaults_domain.h"

#include <unistd.h>

namespace perchwell {
namespace {

HookCommand::Decision ruleDecision(const char* decision, std::string reason, std::string tag) {
    return {decision, std::move(reason), std::move(tag)};
}

} // namespace

void HookCommand::run(int inFd, int outFd) {
    std::optional<std::string> data = readStdin(inFd);
    const HookInput input = data ? HookInput::parseOwned(std::move(*data)) : HookInput();
    const std::string eventName = input.stringField("hook_event_name").value_or("PreToolUse");
    const std::string toolName = input.stringField("tool_name").value_or("");
    const std::string cwd = input.stringField("cwd").value_or("");

    if (eventName != "PreToolUse") {
        emitEmpty(eventName, outFd);
        appendLog(toolName, "ack", cwd, "evt:" + utf8::lowercased(eventName));
        return;
    }

    DefaultsDomain defaults = DefaultsDomain::standard();
    const HookSettings settings = HookSettings::fromUserDefaults(defaults);
    const ReviewPolicyLevel policy = sessionPolicy(input.stringField("session_id"));
    const Decision decision = decide(input, settings, policy);
    // A reader that went away must not change the exit status: the result is ignored.
    (void)files::writeAll(outFd, formatDecisionJSON(decision) + "\n");
    appendLog(toolName, decision.decision, cwd, decision.tag);
}

HookCommand::Decision HookCommand::decide(std::optional<std::string_view> inputData,
                                          const HookSettings& settings, ReviewPolicyLevel sessionPolicy) {
    return decide(HookInput::parse(inputData), settings, sessionPolicy);
}

HookCommand::Decision HookCommand::decide(const HookInput& input, const HookSettings& settings,
                                          ReviewPolicyLevel policy) {
    if (!input.isObject()) {
        return ruleDecision("ask", "Perchwell: hook input not valid JSON", "parse-fail");
    }
    if (policy == ReviewPolicyLevel::manual) {
        return ruleDecision("ask", "Perchwell: session policy = manual — all tool uses require approval",
                            "session-manual");
    }
    const bool global = policy == ReviewPolicyLevel::global;
    if (!settings.enabled && global) {
        return ruleDecision("ask", "Perchwell hook disabled — defer to user", "disabled");
    }

    const std::string_view haystack = input.haystack();
    const bool strict = policy == ReviewPolicyLevel::strict;

    if (!global || settings.hardDeny) {
        for (const CatastrophicCheck& check : catastrophicChecks()) {
            if (check.matches(haystack)) {
                return ruleDecision("deny",
                                    "Perchwell: refused — " + check.reason +
                                        ". If you really mean it, run it manually outside cc.",
                                    "deny:" + check.tag);
            }
        }
    }
    if (policy == ReviewPolicyLevel::permissive) {
        return ruleDecision("allow", "Perchwell: session policy = permissive", "session-permissive");
    }
    if (strict || settings.pathRules) {
        for (const PathRule& rule : defaultPathRules()) {
            if (rule.matches(haystack)) {
                return ruleDecision("ask", "Perchwell: " + rule.reason + " — defer to user",
                                    "path:" + rule.tag);
            }
        }
    }
    if (strict || settings.safePromptOnly) {
        for (const std::string& entry : settings.dangerousKeywords) {
            const std::string lowered = utf8::lowercased(entry);
            const std::string keyword(utf8::trimHorizontalWhitespace(lowered));
            if (keyword.empty()) {
                continue;
            }
            if (matches(keyword, haystack)) {
                return ruleDecision("ask",
                                    "Perchwell: dangerous keyword '" + keyword + "' detected — defer to user",
                                    "kw:" + keyword);
            }
        }
    }
    return ruleDecision("allow", "Perchwell policy approved", "ok");
}

std::string HookCommand::buildHaystack(std::string_view toolName,
                                       std::optional<std::span<const std::string_view>> toolInput) {
    std::string haystack;
    HookInput::joinHaystack(haystack, toolName, toolInput.value_or(std::span<const std::string_view>()),
                            /*lowercase=*/false);
    return haystack;
}

std::optional<std::string> HookCommand::extractField(std::optional<std::string_view> from,
                                                     std::string_view key) {
    return HookInput::parse(from).stringField(key);
}

std::optional<std::string> HookCommand::extractSessionId(std::optional<std::string_view> from) {
    return extractField(from, "session_id");
}

std::optional<std::string> HookCommand::extractEventName(std::optional<std::string_view> from) {
    return extractField(from, "hook_event_name");
}

} // namespace perchwell
