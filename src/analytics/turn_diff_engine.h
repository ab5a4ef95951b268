#pragma once

#include "analytics/trace_records.h"

#include <optional>
#include <string>
#include <vector>

namespace perchwell {

// What changed from one assistant turn to the next.
struct TurnDiff {
    std::string previousId;
    std::string currentId;
    bool modelChanged = false;
    std::optional<std::string> previousModel;
    std::optional<std::string> currentModel;
    std::vector<ToolUseBlock> addedTools;
    std::vector<ToolUseBlock> removedTools;
    std::vector<std::string> commonToolNames;
    bool textChanged = false;
    size_t textPreviousLength = 0; // characters
    size_t textCurrentLength = 0;
    std::optional<TokenUsage> usageDelta; // current minus previous, when both have usage
    double wallClockDelta = 0;            // seconds

    // Worth showing: a model, tool or text change, or a usage delta whose plain sum is not zero.
    bool isSignificant() const;
    bool operator==(const TurnDiff&) const = default;
};

class TurnDiffEngine {
public:
    static TurnDiff diff(const TraceTurn& previous, const TraceTurn& current);
    static std::vector<TurnDiff> diffAdjacent(const std::vector<TraceTurn>& turns);
    // The significant adjacent diffs of one session's turns, taken in time order.
    static std::vector<TurnDiff> significantDiffs(std::vector<TraceTurn> sessionTurns);
    // A tool call's identity: its id, or name "|" input when it has none.
    static std::string identityKey(const ToolUseBlock& block);
};

} // namespace perchwell
