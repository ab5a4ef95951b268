#pragma once

#include "analytics/trace_records.h"

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace perchwell {

// Token burn per session, day and project over assistant turns. Pure functions.
class TokenAnalytics {
public:
    struct SessionSummary {
        std::string sessionId;
        std::optional<std::string> cwd;
        double firstAt = 0;
        double lastAt = 0;
        int64_t turnCount = 0;
        TokenUsage usage;
        std::map<std::string, int64_t> models;
        bool operator==(const SessionSummary&) const = default;
    };
    struct DailyBucket {
        double day = 0; // the instant the local day starts
        TokenUsage usage;
        int64_t turnCount = 0;
        bool operator==(const DailyBucket&) const = default;
    };
    struct ProjectSummary {
        std::string cwd; // "<unknown>" for turns without one
        TokenUsage usage;
        int64_t turnCount = 0;
        bool operator==(const ProjectSummary&) const = default;
    };

    static constexpr const char* unknownProject = "<unknown>";

    // Sessions in order of first appearance.
    static std::vector<SessionSummary> bySession(const std::vector<TraceTurn>& turns);
    // Exactly `days` local days ending today, oldest first; turns after today are skipped.
    static std::vector<DailyBucket> byDay(const std::vector<TraceTurn>& turns, int days, double now);
    // By total tokens, most first.
    static std::vector<ProjectSummary> byProject(const std::vector<TraceTurn>& turns);
    static TokenUsage total(const std::vector<TraceTurn>& turns);
    // The `days` local days ending with the one containing `now`, oldest first, empty.
    static std::vector<DailyBucket> emptyDays(int days, double now);

    // Claude Code writes one line per content block of a message, each repeating the
    // message's usage. Keeps each message's usage once, on its first line, as the
    // field-wise maximum over its lines; the other lines keep no usage. Lines without a
    // message id are left as they are.
    static void countEachMessageOnce(std::vector<TraceTurn>& turns);
};

} // namespace perchwell
