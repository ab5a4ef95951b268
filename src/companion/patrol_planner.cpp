#include "companion/patrol_planner.h"

#include <random>

namespace perchwell {

PatrolPlanner::Random PatrolPlanner::defaultRandom() {
    return [engine = std::minstd_rand(std::random_device{}())](size_t bound) mutable -> size_t {
        return std::uniform_int_distribution<size_t>(0, bound - 1)(engine);
    };
}

PatrolPlanner::PatrolPlanner(Random random) : random_(std::move(random)) {}

std::optional<PatrolPlanner::Pick> PatrolPlanner::pick(const std::vector<std::string>& screenKeys,
                                                       std::string_view lastKey) const {
    if (screenKeys.empty()) {
        return std::nullopt;
    }
    for (int attempt = 0; attempt < attempts; ++attempt) {
        Pick candidate;
        candidate.screen = random_(screenKeys.size()) % screenKeys.size();
        candidate.corner = allHomeCorners[random_(allHomeCorners.size()) % allHomeCorners.size()];
        candidate.key = screenKeys[candidate.screen] + "|" + std::string(rawValue(candidate.corner));
        if (candidate.key != lastKey) {
            return candidate;
        }
    }
    return std::nullopt;
}

} // namespace perchwell
