#pragma once

#include "common/substring_search.h"
#include "hooks/regex.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// One row of a rule table: the pattern, the text for the decision's reason, the tag.
struct RiskRule {
    std::shared_ptr<const LazyRegex> regex;
    std::string reason;
    std::string tag;
    // A substring every match contains; a haystack without it skips the regex scan.
    std::string requiredLiteral;

    bool matches(std::string_view haystack) const;
};

// In table order; each pattern is compiled once per process when first needed, and a
// row whose pattern does not compile never matches.
const std::vector<RiskRule>& catastrophicRuleTable();
const std::vector<RiskRule>& pathRuleTable();

// The keyword list used when the user's stored list is missing, unreadable or empty.
const std::vector<std::string>& defaultDangerousKeywords();

// Keyword test on lower-case text: a left guard, no right guard.
bool keywordMatches(std::string_view needle, std::string_view haystack);

} // namespace perchwell
