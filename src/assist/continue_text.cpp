#include "assist/continue_text.h"

#include "common/utf8.h"

namespace perchwell {

namespace {

// Where the escape sequence starting at `i` (an ESC) ends.
size_t skipEscape(std::string_view s, size_t i) {
    if (i + 1 >= s.size()) {
        return s.size();
    }
    const char kind = s[i + 1];
    if (kind == '[') { // CSI: parameters, then one final byte 0x40-0x7E
        size_t k = i + 2;
        while (k < s.size() && !(s[k] >= 0x40 && s[k] <= 0x7E)) {
            ++k;
        }
        return std::min(k + 1, s.size());
    }
    if (kind == ']' || kind == 'P' || kind == '_' || kind == '^' || kind == 'X') { // to BEL or ESC \ .
        for (size_t k = i + 2; k < s.size(); ++k) {
            if (s[k] == '\a') {
                return k + 1;
            }
            if (s[k] == '\x1b' && k + 1 < s.size() && s[k + 1] == '\\') {
                return k + 2;
            }
        }
        return s.size();
    }
    return i + 2;
}

} // namespace

std::string ContinueText::terminalSafe(std::string_view text, bool keepLineFeeds) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        if (text[i] == '\x1b') {
            i = skipEscape(text, i);
            continue;
        }
        char32_t cp = 0;
        const size_t length = utf8::decode(text, i, cp);
        if (length == 0) {
            ++i;
            continue;
        }
        const bool control = cp < 0x20 || cp == 0x7F || (cp >= 0x80 && cp <= 0x9F);
        if (!control || (keepLineFeeds && cp == '\n')) {
            out.append(text.substr(i, length));
        } else if (cp == '\t') {
            out.push_back(' ');
        }
        i += length;
    }
    return out;
}

std::string ContinueText::clean(std::string_view reply) {
    const std::string safe = terminalSafe(reply, true);
    std::string_view line;
    for (size_t start = 0; start <= safe.size();) {
        size_t end = safe.find('\n', start);
        if (end == std::string::npos) {
            end = safe.size();
        }
        std::string_view candidate = std::string_view(safe).substr(start, end - start);
        if (!utf8::trimHorizontalWhitespace(candidate).empty()) {
            line = candidate;
            break;
        }
        start = end + 1;
    }
    std::string_view text = utf8::trimWhitespace(line);
    static constexpr std::string_view quotes[] = {"\"", "'", "`", "「", "」"};
    for (bool changed = true; changed && !text.empty();) {
        changed = false;
        for (std::string_view q : quotes) {
            if (text.starts_with(q)) {
                text.remove_prefix(q.size());
                changed = true;
            }
            if (text.ends_with(q)) {
                text.remove_suffix(q.size());
                changed = true;
            }
        }
    }
    return std::string(text);
}

ContinueText::Verdict ContinueText::judge(std::string_view reply) {
    Verdict verdict{std::string(fallback), std::nullopt, clean(reply)};
    if (verdict.cleaned.empty() || utf8::characterCount(verdict.cleaned) > maximumLength) {
        return verdict;
    }
    const std::string lower = utf8::lowercased(verdict.cleaned);
    for (std::string_view word : antiContinueWords) {
        if (lower.find(word) != std::string::npos) {
            verdict.rejectedWord = std::string(word);
            return verdict;
        }
    }
    verdict.text = verdict.cleaned;
    return verdict;
}

} // namespace perchwell
