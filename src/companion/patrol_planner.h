#pragma once

#include "state/home_corner.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// Chooses where the patrolling mascot goes next: a random corner of a random screen,
// different from the previous one when the dice allow it within six tries.
class PatrolPlanner {
public:
    static constexpr int attempts = 6;
    // Uniform in [0, bound).
    using Random = std::function<size_t(size_t bound)>;
    static Random defaultRandom();

    struct Pick {
        size_t screen = 0;
        HomeCorner corner = HomeCorner::topLeft;
        std::string key; // screen key + "|" + the corner's raw value
    };

    explicit PatrolPlanner(Random random = defaultRandom());

    // `screenKeys` holds one identifying key per screen. No pick when there is no
    // screen, or when all six tries land on `lastKey`.
    std::optional<Pick> pick(const std::vector<std::string>& screenKeys, std::string_view lastKey) const;

private:
    Random random_;
};

} // namespace perchwell
