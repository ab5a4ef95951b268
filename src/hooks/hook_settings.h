#pragma once

#include <string>
#include <vector>

namespace perchwell {

class DefaultsDomain;

// The hook switches, read afresh for every decision.
struct HookSettings {
    bool enabled = true;
    bool safePromptOnly = true;
    std::vector<std::string> dangerousKeywords;
    bool hardDeny = true;
    bool pathRules = true;

    // Registers the hook defaults on `defaults` and reads the four switches and the keyword list.
    static HookSettings fromUserDefaults(DefaultsDomain& defaults);
};

} // namespace perchwell
