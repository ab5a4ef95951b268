// Any input, any policy: decide never crashes, and input that is not a JSON object
// always gets "ask".
#include "hooks/hook_command.h"

#include <cstdlib>

using namespace perchwell;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    HookSettings settings;
    settings.dangerousKeywords = defaultDangerousKeywords();
    settings.enabled = data[0] & 1;
    settings.hardDeny = data[0] & 2;
    settings.pathRules = data[0] & 4;
    settings.safePromptOnly = data[0] & 8;
    const auto policy = allReviewPolicyLevels[(data[0] >> 4) & 3];
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    const auto decision = HookCommand::decide(input, settings, policy);
    if (!HookInput::parse(input).isObject() && decision.decision != "ask") {
        std::abort();
    }
    if (policy == ReviewPolicyLevel::manual && decision.decision != "ask") {
        std::abort();
    }
    (void)HookCommand::formatDecisionJSON(decision);
    return 0;
}
