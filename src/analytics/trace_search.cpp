#include "analytics/trace_search.h"

#include "analytics/grapheme_text.h"
#include "common/utf8.h"

#include <algorithm>

namespace perchwell {

std::string_view toString(TraceSearch::Hit::HitField field) {
    using F = TraceSearch::Hit::HitField;
    switch (field) {
    case F::userText:
        return "user_text";
    case F::assistantText:
        return "assistant_text";
    case F::toolName:
        return "tool_name";
    case F::toolInput:
        return "tool_input";
    case F::model:
        return "model";
    }
    return "user_text";
}

std::string TraceSearch::Hit::identifier() const {
    return entry->identifier() + "::" + std::string(toString(field));
}

std::vector<std::string> TraceSearch::tokenize(std::string_view query) {
    const std::string lower = utf8::lowercased(query);
    std::vector<std::string> tokens;
    size_t i = 0;
    const auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    while (i < lower.size()) {
        while (i < lower.size() && isSpace(lower[i])) {
            ++i;
        }
        const size_t start = i;
        while (i < lower.size() && !isSpace(lower[i])) {
            ++i;
        }
        if (i > start) {
            tokens.emplace_back(lower.substr(start, i - start));
        }
    }
    return tokens;
}

namespace {

bool containsAll(std::string_view lower, const std::vector<std::string>& tokens) {
    return std::all_of(tokens.begin(), tokens.end(),
                       [&](const std::string& t) { return lower.find(t) != std::string_view::npos; });
}

} // namespace

bool TraceSearch::matchesAll(std::string_view text, const std::vector<std::string>& tokens) {
    return tokens.empty() || containsAll(utf8::lowercased(text), tokens);
}

namespace {

// snippet() with the lower-cased text already at hand.
std::string snippetOfLowered(std::string_view text, std::string_view lower, std::string_view token) {
    constexpr size_t width = 120;
    constexpr size_t before = 40;
    if (text.empty()) {
        return {};
    }
    const size_t at = token.empty() ? std::string::npos : lower.find(token);
    if (at == std::string::npos) {
        return std::string(graphemes::slice(text, 0, width));
    }
    const size_t distance = graphemes::count(lower.substr(0, at));
    // The lower-cased text has as many characters as the text, save for rare case
    // mappings; slice() stops at the end either way.
    const size_t start = distance > before ? distance - before : 0;
    const std::string_view piece = graphemes::slice(text, start, width);
    const bool reachesEnd = piece.data() + piece.size() == text.data() + text.size();
    std::string out;
    if (start > 0) {
        out = "\u2026";
    }
    out.append(piece);
    if (!reachesEnd) {
        out.append("\u2026");
    }
    return out;
}

} // namespace

std::string TraceSearch::snippet(std::string_view text, std::string_view token) {
    return snippetOfLowered(text, utf8::lowercased(text), token);
}

void TraceSearch::hitsFor(std::shared_ptr<const TraceEntry> shared, const std::vector<std::string>& tokens,
                          std::vector<Hit>& out) {
    const TraceEntry& entry = *shared;
    using F = Hit::HitField;
    // Each field is lower-cased once, for the match and its snippet.
    const auto hit = [&](F field, std::string_view text, bool withSnippet) {
        const std::string lower = utf8::lowercased(text);
        if (containsAll(lower, tokens)) {
            out.push_back({shared, field,
                           withSnippet ? snippetOfLowered(text, lower, tokens.front()) : std::string(text)});
        }
    };
    if (const auto* u = entry.user()) {
        hit(F::userText, u->text, true);
        return;
    }
    const auto* a = entry.assistant();
    hit(F::assistantText, a->text, true);
    for (const auto& tool : a->toolUses) {
        hit(F::toolName, tool.name, false);
        hit(F::toolInput, tool.inputJSON, true);
    }
    if (a->model) {
        hit(F::model, *a->model, false);
    }
}

std::vector<TraceSearch::Hit> TraceSearch::run(std::string_view query,
                                               const std::vector<TraceEntry>& entries) {
    std::vector<Hit> hits;
    const auto tokens = tokenize(query);
    if (tokens.empty()) {
        return hits;
    }
    for (const auto& entry : entries) {
        hitsFor(std::make_shared<const TraceEntry>(entry), tokens, hits);
    }
    return hits;
}

} // namespace perchwell
