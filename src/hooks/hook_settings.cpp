#include "hooks/hook_settings.h"

#include "hooks/risk_rules.h"
#include "platform/defaults_domain.h"

#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

// A stored list counts only when it is a non-empty JSON array of strings.
std::vector<std::string> decodeKeywords(const std::optional<std::string>& text) {
    if (!text) {
        return defaultDangerousKeywords();
    }
    const auto parsed = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
    if (!parsed.is_array() || parsed.empty()) {
        return defaultDangerousKeywords();
    }
    std::vector<std::string> keywords;
    keywords.reserve(parsed.size());
    for (const auto& item : parsed) {
        if (!item.is_string()) {
            return defaultDangerousKeywords();
        }
        keywords.push_back(item.get<std::string>());
    }
    return keywords;
}

} // namespace

HookSettings HookSettings::fromUserDefaults(DefaultsDomain& defaults) {
    defaults.registerDefaults({{"pv.hookEnabled", true},
                               {"pv.safePromptOnly", true},
                               {"pv.hookHardDeny", true},
                               {"pv.hookPathRules", true}});
    HookSettings settings;
    settings.enabled = defaults.boolForKey("pv.hookEnabled");
    settings.safePromptOnly = defaults.boolForKey("pv.safePromptOnly");
    settings.hardDeny = defaults.boolForKey("pv.hookHardDeny");
    settings.pathRules = defaults.boolForKey("pv.hookPathRules");
    settings.dangerousKeywords = decodeKeywords(defaults.stringForKey("pv.dangerousKeywordsJSON"));
    return settings;
}

} // namespace perchwell
