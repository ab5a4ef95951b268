#include "analytics/trace_records.h"

#include <algorithm>

namespace perchwell {

std::optional<int> TokenUsage::cacheHitPercent() const {
    const int64_t prompt = inputTokens + cacheReadInputTokens + cacheCreationInputTokens;
    if (prompt < 1) {
        return std::nullopt;
    }
    return static_cast<int>(static_cast<double>(cacheReadInputTokens) / static_cast<double>(prompt) * 100.0);
}

TokenUsage& TokenUsage::operator+=(const TokenUsage& other) {
    inputTokens += other.inputTokens;
    outputTokens += other.outputTokens;
    cacheReadInputTokens += other.cacheReadInputTokens;
    cacheCreationInputTokens += other.cacheCreationInputTokens;
    return *this;
}

TokenUsage TokenUsage::operator-(const TokenUsage& other) const {
    return {inputTokens - other.inputTokens, outputTokens - other.outputTokens,
            cacheReadInputTokens - other.cacheReadInputTokens,
            cacheCreationInputTokens - other.cacheCreationInputTokens};
}

TokenUsage TokenUsage::fieldMax(const TokenUsage& a, const TokenUsage& b) {
    return {std::max(a.inputTokens, b.inputTokens), std::max(a.outputTokens, b.outputTokens),
            std::max(a.cacheReadInputTokens, b.cacheReadInputTokens),
            std::max(a.cacheCreationInputTokens, b.cacheCreationInputTokens)};
}

std::string TraceEntry::identifier() const {
    if (const auto* u = user()) {
        return "u-" + u->id;
    }
    return "a-" + assistant()->id;
}

double TraceEntry::timestamp() const {
    if (const auto* u = user()) {
        return u->timestamp;
    }
    return assistant()->timestamp;
}

const std::string& TraceEntry::sessionId() const {
    if (const auto* u = user()) {
        return u->sessionId;
    }
    return assistant()->sessionId;
}

} // namespace perchwell
