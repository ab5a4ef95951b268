#pragma once

#include "hooks/regex.h"

#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// One row of a rule table: the pattern, the text for the decision's reason, the tag.
struct RiskRule {
    Regex regex;
    std::string reason;
    std::string tag;
};

// Compiled once per process on first use, in table order; a row whose pattern does
// not compile is left out.
const std::vector<RiskRule>& catastrophicRuleTable();
const std::vector<RiskRule>& pathRuleTable();

// The keyword list used when the user's stored list is missing, unreadable or empty.
const std::vector<std::string>& defaultDangerousKeywords();

// Keyword test on lower-case text: a left guard, no right guard.
bool keywordMatches(std::string_view needle, std::string_view haystack);

} // namespace perchwell
