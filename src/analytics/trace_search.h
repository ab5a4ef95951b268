#pragma once

#include "analytics/trace_records.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// Keyword search over trace entries: every query token (lower-cased, split at white
// space) must occur in a field. Pure functions.
class TraceSearch {
public:
    struct Hit {
        enum class HitField { userText, assistantText, toolName, toolInput, model };
        // Shared by the hits of one entry: a long tool result is kept once.
        std::shared_ptr<const TraceEntry> entry;
        HitField field;
        std::string snippet;

        // The entry's identifier, "::", the field's raw text.
        std::string identifier() const;
        bool operator==(const Hit& other) const {
            return *entry == *other.entry && field == other.field && snippet == other.snippet;
        }
    };

    static std::vector<Hit> run(std::string_view query, const std::vector<TraceEntry>& entries);
    // The hits of one entry for already tokenised, non-empty tokens, appended in field order.
    static void hitsFor(std::shared_ptr<const TraceEntry> entry, const std::vector<std::string>& tokens,
                        std::vector<Hit>& out);

    static std::vector<std::string> tokenize(std::string_view query);
    static bool matchesAll(std::string_view text, const std::vector<std::string>& tokens);
    // Up to 120 characters around the first occurrence of `token`, with "…" where cut.
    static std::string snippet(std::string_view text, std::string_view token);
};

std::string_view toString(TraceSearch::Hit::HitField field);

} // namespace perchwell
