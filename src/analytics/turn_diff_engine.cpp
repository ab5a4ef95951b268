#include "analytics/turn_diff_engine.h"

#include "analytics/grapheme_text.h"

#include <algorithm>
#include <set>

namespace perchwell {

bool TurnDiff::isSignificant() const {
    if (modelChanged || !addedTools.empty() || !removedTools.empty() || textChanged) {
        return true;
    }
    return usageDelta && usageDelta->totalTokens() != 0;
}

std::string TurnDiffEngine::identityKey(const ToolUseBlock& block) {
    if (block.id && !block.id->empty()) {
        return *block.id;
    }
    return block.name + "|" + block.inputJSON;
}

TurnDiff TurnDiffEngine::diff(const TraceTurn& previous, const TraceTurn& current) {
    TurnDiff d;
    d.previousId = previous.id;
    d.currentId = current.id;
    d.previousModel = previous.model;
    d.currentModel = current.model;
    d.modelChanged = previous.model != current.model;

    std::set<std::string> previousKeys, currentKeys, previousNames, common;
    for (const auto& t : previous.toolUses) {
        previousKeys.insert(identityKey(t));
        previousNames.insert(t.name);
    }
    for (const auto& t : current.toolUses) {
        currentKeys.insert(identityKey(t));
    }
    for (const auto& t : current.toolUses) {
        if (!previousKeys.count(identityKey(t))) {
            d.addedTools.push_back(t);
        }
        if (previousNames.count(t.name) && common.insert(t.name).second) {
            d.commonToolNames.push_back(t.name);
        }
    }
    for (const auto& t : previous.toolUses) {
        if (!currentKeys.count(identityKey(t))) {
            d.removedTools.push_back(t);
        }
    }
    d.textChanged = previous.text != current.text;
    d.textPreviousLength = graphemes::count(previous.text);
    d.textCurrentLength = graphemes::count(current.text);
    if (previous.usage && current.usage) {
        d.usageDelta = *current.usage - *previous.usage;
    }
    d.wallClockDelta = current.timestamp - previous.timestamp;
    return d;
}

std::vector<TurnDiff> TurnDiffEngine::diffAdjacent(const std::vector<TraceTurn>& turns) {
    std::vector<TurnDiff> out;
    for (size_t i = 1; i < turns.size(); ++i) {
        out.push_back(diff(turns[i - 1], turns[i]));
    }
    return out;
}

std::vector<TurnDiff> TurnDiffEngine::significantDiffs(std::vector<TraceTurn> sessionTurns) {
    std::stable_sort(sessionTurns.begin(), sessionTurns.end(),
                     [](const auto& a, const auto& b) { return a.timestamp < b.timestamp; });
    auto all = diffAdjacent(sessionTurns);
    std::vector<TurnDiff> kept;
    std::copy_if(all.begin(), all.end(), std::back_inserter(kept),
                 [](const TurnDiff& d) { return d.isSignificant(); });
    return kept;
}

} // namespace perchwell
