#include "analytics/usage_ledger.h"

#include "analytics/local_calendar.h"

#include <algorithm>
#include <functional>
#include <string_view>

namespace perchwell {

size_t UsageLedger::CellKeyHash::operator()(const CellKey& k) const {
    const size_t h = std::hash<std::string_view>()(k.sessionId) ^ (std::hash<std::string_view>()(k.cwd) * 31);
    return h ^ (static_cast<size_t>(k.day) * 0x9E3779B97F4A7C15ull);
}

uint32_t UsageLedger::cellFor(int64_t day, const std::string& sessionId, const std::string& cwd) {
    auto [it, fresh] =
        cellIndex_.try_emplace(CellKey{day, sessionId, cwd}, static_cast<uint32_t>(cells_.size()));
    if (fresh) {
        cells_.push_back({day, sessionId, cwd, {}, 0});
    }
    return it->second;
}

void UsageLedger::add(const TraceTurn& turn, int64_t day) {
    const uint32_t cell = cellFor(day, turn.sessionId, turn.cwd ? *turn.cwd : TokenAnalytics::unknownProject);
    ++cells_[cell].turnCount;
    if (turn.usage) {
        if (turn.messageId) {
            const uint64_t key = std::hash<std::string_view>()(*turn.messageId);
            auto [it, fresh] = messages_.try_emplace(key, Message{*turn.usage, turn.timestamp, cell});
            if (!fresh) {
                auto& m = it->second;
                m.usage = TokenUsage::fieldMax(m.usage, *turn.usage);
                if (turn.timestamp < m.firstAt) {
                    m.firstAt = turn.timestamp;
                    m.cell = cell;
                }
            }
        } else {
            cells_[cell].usage += *turn.usage;
        }
    }
    auto [it, fresh] = sessions_.try_emplace(turn.sessionId);
    auto& s = it->second;
    if (fresh || turn.timestamp < s.firstAt) {
        s.firstAt = turn.timestamp;
        s.cwd = turn.cwd;
    }
    if (fresh || turn.timestamp > s.lastAt) {
        s.lastAt = turn.timestamp;
    }
    if (turn.model) {
        ++s.models[*turn.model];
    }
    ++s.turnCount;
}

void UsageLedger::merge(UsageLedger&& other) {
    std::vector<uint32_t> remap(other.cells_.size());
    for (size_t i = 0; i < other.cells_.size(); ++i) {
        auto& c = other.cells_[i];
        remap[i] = cellFor(c.day, c.sessionId, c.cwd);
        cells_[remap[i]].usage += c.usage;
        cells_[remap[i]].turnCount += c.turnCount;
    }
    for (auto& [key, m] : other.messages_) {
        const uint32_t cell = remap[m.cell];
        auto [it, fresh] = messages_.try_emplace(key, Message{m.usage, m.firstAt, cell});
        if (!fresh) {
            auto& mine = it->second;
            mine.usage = TokenUsage::fieldMax(mine.usage, m.usage);
            if (m.firstAt < mine.firstAt) {
                mine.firstAt = m.firstAt;
                mine.cell = cell;
            }
        }
    }
    for (auto& [id, theirs] : other.sessions_) {
        auto [it, fresh] = sessions_.try_emplace(id, theirs);
        if (fresh) {
            continue;
        }
        auto& s = it->second;
        if (theirs.firstAt < s.firstAt) {
            s.firstAt = theirs.firstAt;
            s.cwd = theirs.cwd;
        }
        s.lastAt = std::max(s.lastAt, theirs.lastAt);
        for (const auto& [model, n] : theirs.models) {
            s.models[model] += n;
        }
        s.turnCount += theirs.turnCount;
    }
    other.clear();
}

std::vector<UsageLedger::Cell> UsageLedger::cells() const {
    std::vector<Cell> out = cells_;
    for (const auto& [key, m] : messages_) {
        out[m.cell].usage += m.usage;
    }
    return out;
}

std::vector<TokenAnalytics::SessionSummary> UsageLedger::sessionSummaries() const {
    std::unordered_map<std::string, TokenUsage> usage;
    for (const auto& c : cells()) {
        usage[c.sessionId] += c.usage;
    }
    std::vector<TokenAnalytics::SessionSummary> out;
    out.reserve(sessions_.size());
    for (const auto& [id, s] : sessions_) {
        out.push_back({id, s.cwd, s.firstAt, s.lastAt, s.turnCount, usage[id], s.models});
    }
    std::sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
        return a.lastAt != b.lastAt ? a.lastAt > b.lastAt : a.sessionId < b.sessionId;
    });
    return out;
}

std::vector<TokenAnalytics::DailyBucket> UsageLedger::dailyBuckets(int days, double now) const {
    auto buckets = TokenAnalytics::emptyDays(days, now);
    const int64_t first = LocalCalendar::dayNumber(now) + 1 - days;
    const int64_t today = first + days - 1;
    for (const auto& c : cells()) {
        if (c.day >= first && c.day <= today) {
            auto& b = buckets[static_cast<size_t>(c.day - first)];
            b.usage += c.usage;
            b.turnCount += c.turnCount;
        }
    }
    return buckets;
}

std::vector<TokenAnalytics::ProjectSummary> UsageLedger::projectSummaries() const {
    std::map<std::string, TokenAnalytics::ProjectSummary> byCwd;
    for (const auto& c : cells()) {
        auto& p = byCwd[c.cwd];
        p.cwd = c.cwd;
        p.usage += c.usage;
        p.turnCount += c.turnCount;
    }
    std::vector<TokenAnalytics::ProjectSummary> out;
    for (auto& [cwd, p] : byCwd) {
        out.push_back(std::move(p));
    }
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
        return a.usage.totalTokens() > b.usage.totalTokens();
    });
    return out;
}

TokenUsage UsageLedger::total() const {
    TokenUsage sum;
    for (const auto& c : cells()) {
        sum += c.usage;
    }
    return sum;
}

} // namespace perchwell
