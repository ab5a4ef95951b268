#include "analytics/token_analytics.h"

#include "analytics/local_calendar.h"

#include <algorithm>
#include <unordered_map>

namespace perchwell {

std::vector<TokenAnalytics::SessionSummary> TokenAnalytics::bySession(const std::vector<TraceTurn>& turns) {
    std::vector<SessionSummary> summaries;
    std::unordered_map<std::string, size_t> index;
    for (const auto& turn : turns) {
        auto [it, fresh] = index.try_emplace(turn.sessionId, summaries.size());
        if (fresh) {
            summaries.push_back({turn.sessionId, turn.cwd, turn.timestamp, turn.timestamp, 0, {}, {}});
        }
        auto& s = summaries[it->second];
        ++s.turnCount;
        if (turn.usage) {
            s.usage += *turn.usage;
        }
        s.firstAt = std::min(s.firstAt, turn.timestamp);
        s.lastAt = std::max(s.lastAt, turn.timestamp);
        if (turn.model) {
            ++s.models[*turn.model];
        }
    }
    return summaries;
}

std::vector<TokenAnalytics::DailyBucket> TokenAnalytics::byDay(const std::vector<TraceTurn>& turns, int days,
                                                               double now) {
    auto buckets = emptyDays(days, now);
    if (buckets.empty()) {
        return buckets;
    }
    const int64_t today = LocalCalendar::dayNumber(now);
    const int64_t first = today + 1 - days;
    const double start = buckets.front().day;
    LocalDayCache calendar;
    for (const auto& turn : turns) {
        if (turn.timestamp < start) {
            continue;
        }
        const int64_t day = calendar.dayNumber(turn.timestamp);
        if (day < first || day > today) {
            continue;
        }
        auto& bucket = buckets[static_cast<size_t>(day - first)];
        if (turn.usage) {
            bucket.usage += *turn.usage;
        }
        ++bucket.turnCount;
    }
    return buckets;
}

std::vector<TokenAnalytics::ProjectSummary> TokenAnalytics::byProject(const std::vector<TraceTurn>& turns) {
    std::vector<ProjectSummary> projects;
    std::unordered_map<std::string, size_t> index;
    for (const auto& turn : turns) {
        const std::string& cwd = turn.cwd ? *turn.cwd : std::string(unknownProject);
        auto [it, fresh] = index.try_emplace(cwd, projects.size());
        if (fresh) {
            projects.push_back({cwd, {}, 0});
        }
        auto& p = projects[it->second];
        if (turn.usage) {
            p.usage += *turn.usage;
        }
        ++p.turnCount;
    }
    std::stable_sort(projects.begin(), projects.end(), [](const auto& a, const auto& b) {
        return a.usage.totalTokens() > b.usage.totalTokens();
    });
    return projects;
}

std::vector<TokenAnalytics::DailyBucket> TokenAnalytics::emptyDays(int days, double now) {
    std::vector<DailyBucket> buckets;
    const int64_t today = LocalCalendar::dayNumber(now);
    for (int64_t day = today + 1 - days; day <= today; ++day) {
        buckets.push_back({LocalCalendar::startOfDay(day), {}, 0});
    }
    return buckets;
}

TokenUsage TokenAnalytics::total(const std::vector<TraceTurn>& turns) {
    TokenUsage sum;
    for (const auto& turn : turns) {
        if (turn.usage) {
            sum += *turn.usage;
        }
    }
    return sum;
}

void TokenAnalytics::countEachMessageOnce(std::vector<TraceTurn>& turns) {
    std::unordered_map<std::string, size_t> firstLine;
    for (size_t i = 0; i < turns.size(); ++i) {
        auto& turn = turns[i];
        if (!turn.messageId || !turn.usage) {
            continue;
        }
        auto [it, fresh] = firstLine.try_emplace(*turn.messageId, i);
        if (!fresh) {
            auto& kept = turns[it->second].usage;
            kept = TokenUsage::fieldMax(*kept, *turn.usage);
            turn.usage.reset();
        }
    }
}

} // namespace perchwell
