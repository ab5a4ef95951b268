#include "hooks/review_policy_level.h"

namespace perchwell {

std::string_view toString(ReviewPolicyLevel level) {
    switch (level) {
    case ReviewPolicyLevel::global:
        return "global";
    case ReviewPolicyLevel::permissive:
        return "permissive";
    case ReviewPolicyLevel::strict:
        return "strict";
    case ReviewPolicyLevel::manual:
        return "manual";
    }
    return "global";
}

std::optional<ReviewPolicyLevel> reviewPolicyLevelFromString(std::string_view raw) {
    for (ReviewPolicyLevel level : allReviewPolicyLevels) {
        if (toString(level) == raw) {
            return level;
        }
    }
    return std::nullopt;
}

} // namespace perchwell
