#pragma once

#include "analytics/token_analytics.h"
#include "analytics/trace_records.h"

#include <cstdint>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

namespace perchwell {

// Token figures of any number of assistant turns, kept as sums per (local day,
// session, working directory) and never as the turns themselves, so memory follows
// the number of sessions and days, plus 48 bytes per message id. Each message's usage
// counts once: the field-wise maximum over the lines that carry its id, on the cell
// of its earliest line. Ledgers filled apart (one per thread) merge into one.
class UsageLedger {
public:
    struct Cell {
        int64_t day = 0; // LocalCalendar day number
        std::string sessionId;
        std::string cwd; // "<unknown>" when the turn had none
        TokenUsage usage;
        int64_t turnCount = 0;
    };
    struct SessionStats {
        double firstAt = 0;
        double lastAt = 0;
        std::optional<std::string> cwd; // of the earliest turn
        std::map<std::string, int64_t> models;
        int64_t turnCount = 0;
    };

    void add(const TraceTurn& turn, int64_t day);
    void merge(UsageLedger&& other);
    void clear() { *this = UsageLedger(); }

    // Every cell with its usage, messages included.
    std::vector<Cell> cells() const;
    const std::unordered_map<std::string, SessionStats>& sessions() const { return sessions_; }

    // The Trace view's figures, equal to TokenAnalytics over the same turns after
    // countEachMessageOnce (session order: most recently active first).
    std::vector<TokenAnalytics::SessionSummary> sessionSummaries() const;
    std::vector<TokenAnalytics::DailyBucket> dailyBuckets(int days, double now) const;
    std::vector<TokenAnalytics::ProjectSummary> projectSummaries() const;
    TokenUsage total() const;

private:
    struct CellKey {
        int64_t day;
        std::string sessionId;
        std::string cwd;
        bool operator==(const CellKey&) const = default;
    };
    struct CellKeyHash {
        size_t operator()(const CellKey& k) const;
    };
    struct Message {
        TokenUsage usage;
        double firstAt = 0;
        uint32_t cell = 0;
    };
    uint32_t cellFor(int64_t day, const std::string& sessionId, const std::string& cwd);

    std::vector<Cell> cells_; // usage of lines without a message id only
    std::unordered_map<CellKey, uint32_t, CellKeyHash> cellIndex_;
    std::unordered_map<uint64_t, Message> messages_; // by hash of the message id
    std::unordered_map<std::string, SessionStats> sessions_;
};

} // namespace perchwell
