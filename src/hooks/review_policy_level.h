#pragma once

#include <array>
#include <optional>
#include <string_view>

namespace perchwell {

// Per-session review policy; the raw strings are what the policy file and the
// session_policies table store.
enum class ReviewPolicyLevel { global, permissive, strict, manual };

inline constexpr std::array<ReviewPolicyLevel, 4> allReviewPolicyLevels = {
    ReviewPolicyLevel::global, ReviewPolicyLevel::permissive, ReviewPolicyLevel::strict,
    ReviewPolicyLevel::manual};

std::string_view toString(ReviewPolicyLevel level);

// Exactly the four lower-case raw strings; anything else is no level.
std::optional<ReviewPolicyLevel> reviewPolicyLevelFromString(std::string_view raw);

} // namespace perchwell
