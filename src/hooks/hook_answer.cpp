// The answer texts, apart from the decision code so the hook client can print them
// without linking the rules.
#include "common/file_util.h"
#include "hooks/hook_command.h"

#include <nlohmann/json.hpp>

namespace perchwell {

std::string HookCommand::formatDecisionJSON(const Decision& decision) {
    const nlohmann::json answer = {{"hookSpecificOutput",
                                    {{"hookEventName", "PreToolUse"},
                                     {"permissionDecision", decision.decision},
                                     {"permissionDecisionReason", decision.reason}}}};
    try {
        return answer.dump();
    } catch (const nlohmann::json::exception&) {
        return R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask",)"
               R"("permissionDecisionReason":"Perchwell: output serialization failed — defer to user"}})";
    }
}

std::string HookCommand::emptyAnswerJSON(std::string_view eventName) {
    const nlohmann::json answer = {{"hookSpecificOutput", {{"hookEventName", std::string(eventName)}}}};
    // Bytes that are not UTF-8 are replaced rather than written raw: the answer stays valid JSON.
    return answer.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

void HookCommand::emitEmpty(std::string_view eventName, int outFd) {
    (void)files::writeAll(outFd, emptyAnswerJSON(eventName) + "\n");
}

} // namespace perchwell
