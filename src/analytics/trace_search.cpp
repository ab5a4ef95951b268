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

bool TraceSearch::matchesAll(std::string_view text, const std::vector<std::string>& tokens) {
    if (tokens.empty()) {
        return true;
    }
    const std::string lower = utf8::lowercased(text);
    return std::all_of(tokens.begin(), tokens.end(),
                       [&](const std::string& t) { return lower.find(t) != std::string::npos; });
}

std::string TraceSearch::snippet(std::string_view text, std::string_view token) {
    constexpr size_t width = 120;
    constexpr size_t before = 40;
    if (text.empty()) {
        return {};
    }
    const std::string lower = utf8::lowercased(text);
    const size_t at = token.empty() ? std::string::npos : lower.find(token);
    if (at == std::string::npos) {
        return std::string(graphemes::slice(text, 0, width));
    }
    const size_t distance = graphemes::count(std::string_view(lower).substr(0, at));
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

void TraceSearch::hitsFor(std::shared_ptr<const TraceEntry> shared, const std::vector<std::string>& tokens,
                          std::vector<Hit>& out) {
    const TraceEntry& entry = *shared;
    using F = Hit::HitField;
    if (const auto* u = entry.user()) {
        if (matchesAll(u->text, tokens)) {
            out.push_back({shared, F::userText, snippet(u->text, tokens.front())});
        }
        return;
    }
    const auto* a = entry.assistant();
    if (matchesAll(a->text, tokens)) {
        out.push_back({shared, F::assistantText, snippet(a->text, tokens.front())});
    }
    for (const auto& tool : a->toolUses) {
        if (matchesAll(tool.name, tokens)) {
            out.push_back({shared, F::toolName, tool.name});
        }
        if (matchesAll(tool.inputJSON, tokens)) {
            out.push_back({shared, F::toolInput, snippet(tool.inputJSON, tokens.front())});
        }
    }
    if (a->model && matchesAll(*a->model, tokens)) {
        out.push_back({shared, F::model, *a->model});
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
