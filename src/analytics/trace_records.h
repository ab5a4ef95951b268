#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace perchwell {

// Token counts of one assistant turn or of a sum of turns.
struct TokenUsage {
    int64_t inputTokens = 0;
    int64_t outputTokens = 0;
    int64_t cacheReadInputTokens = 0;
    int64_t cacheCreationInputTokens = 0;

    int64_t totalTokens() const {
        return inputTokens + outputTokens + cacheReadInputTokens + cacheCreationInputTokens;
    }
    // Whole percent of prompt tokens served from the cache; nothing below one prompt token.
    std::optional<int> cacheHitPercent() const;

    TokenUsage& operator+=(const TokenUsage& other);
    TokenUsage operator+(const TokenUsage& other) const { return TokenUsage(*this) += other; }
    TokenUsage operator-(const TokenUsage& other) const;
    // Field-wise maximum: the repeated usage of one message's lines counted once.
    static TokenUsage fieldMax(const TokenUsage& a, const TokenUsage& b);
    bool operator==(const TokenUsage&) const = default;
};

// One tool call of an assistant turn.
struct ToolUseBlock {
    std::optional<std::string> id;
    std::string name;
    std::string inputJSON; // compact, keys sorted; "{}" when missing or not a container

    bool operator==(const ToolUseBlock&) const = default;
};

struct TraceUserTurn {
    std::string id; // the line's uuid
    std::string sessionId;
    std::optional<std::string> parentUuid;
    double timestamp = 0;
    std::optional<std::string> cwd;
    std::string text;
    // Whether the line carries only tool results: Claude Code's answer, not the user's words.
    bool toolResultsOnly = false;

    bool operator==(const TraceUserTurn&) const = default;
};

struct TraceTurn {
    std::string id; // the line's uuid
    std::string sessionId;
    std::optional<std::string> parentUuid;
    double timestamp = 0;
    std::optional<std::string> cwd;
    std::optional<std::string> model;
    std::string text;
    std::vector<ToolUseBlock> toolUses;
    std::optional<TokenUsage> usage;
    // "message"."id": the lines of one message (one per content block) share it and
    // repeat its usage.
    std::optional<std::string> messageId;

    bool operator==(const TraceTurn&) const = default;
};

// One user or assistant line of a transcript.
class TraceEntry {
public:
    TraceEntry(TraceUserTurn turn) : value_(std::move(turn)) {}
    TraceEntry(TraceTurn turn) : value_(std::move(turn)) {}

    bool isUser() const { return std::holds_alternative<TraceUserTurn>(value_); }
    const TraceUserTurn* user() const { return std::get_if<TraceUserTurn>(&value_); }
    const TraceTurn* assistant() const { return std::get_if<TraceTurn>(&value_); }
    TraceTurn* assistant() { return std::get_if<TraceTurn>(&value_); }

    // "u-<uuid>" or "a-<uuid>".
    std::string identifier() const;
    double timestamp() const;
    const std::string& sessionId() const;

    bool operator==(const TraceEntry&) const = default;

private:
    std::variant<TraceUserTurn, TraceTurn> value_;
};

} // namespace perchwell
