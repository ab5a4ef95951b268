#include "common/utf8.h"

#include <clocale>
#include <cstdint>
#include <cstring>
#include <cwctype>
#include <locale.h>

namespace perchwell::utf8 {
namespace {

void encode(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

locale_t unicodeLocale() {
    // C.UTF-8 is built into glibc; the global locale is never touched.
    static locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    return loc;
}

bool isHorizontalSpace(char32_t cp) {
    return cp == ' ' || cp == '\t' || cp == 0xA0 || cp == 0x1680 || (cp >= 0x2000 && cp <= 0x200A) ||
           cp == 0x202F || cp == 0x205F || cp == 0x3000;
}

bool isLineBreak(char32_t cp) {
    return (cp >= '\n' && cp <= '\r') || cp == 0x85 || cp == 0x2028 || cp == 0x2029;
}

template <typename Predicate> std::string_view trim(std::string_view text, Predicate drop) {
    size_t begin = 0;
    while (begin < text.size()) {
        char32_t cp = 0;
        const size_t len = decode(text, begin, cp);
        if (len == 0 || !drop(cp)) {
            break;
        }
        begin += len;
    }
    size_t end = text.size();
    while (end > begin) {
        // Step back to the start of the last code point.
        size_t start = end - 1;
        while (start > begin && (static_cast<unsigned char>(text[start]) >> 6) == 0x2) {
            --start;
        }
        char32_t cp = 0;
        const size_t len = decode(text, start, cp);
        if (len == 0 || start + len != end || !drop(cp)) {
            break;
        }
        end = start;
    }
    return text.substr(begin, end - begin);
}

} // namespace

size_t decode(std::string_view s, size_t i, char32_t& cp) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    size_t len = b0 < 0x80 ? 1 : (b0 >> 5) == 0x6 ? 2 : (b0 >> 4) == 0xE ? 3 : (b0 >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + len > s.size()) {
        return 0;
    }
    cp = len == 1 ? b0 : len == 2 ? (b0 & 0x1F) : len == 3 ? (b0 & 0x0F) : (b0 & 0x07);
    for (size_t k = 1; k < len; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b >> 6) != 0x2) {
            return 0;
        }
        cp = (cp << 6) | (b & 0x3F);
    }
    static constexpr char32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < minimum[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        return 0;
    }
    return len;
}

bool isValid(std::string_view text) {
    // Plain ASCII, the usual case, is checked 32 bytes at a time; the hook role must not
    // map a JSON library just for this.
    constexpr uint64_t high = 0x8080808080808080ULL;
    size_t i = 0;
    while (i < text.size()) {
        if (i + 32 <= text.size()) {
            uint64_t w[4];
            std::memcpy(w, text.data() + i, sizeof w);
            if (((w[0] | w[1] | w[2] | w[3]) & high) == 0) {
                i += 32;
                continue;
            }
        }
        if (static_cast<unsigned char>(text[i]) < 0x80) {
            ++i;
            continue;
        }
        char32_t cp = 0;
        const size_t len = decode(text, i, cp);
        if (len == 0) {
            return false;
        }
        i += len;
    }
    return true;
}

bool isAscii(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) >= 0x80) {
            return false;
        }
    }
    return true;
}

void appendLowercased(std::string& out, std::string_view text) {
    const size_t base = out.size();
    out.resize(base + text.size());
    char* const dest = out.data() + base;
    // ASCII pass eight bytes at a time (SWAR); most haystacks are plain ASCII.
    constexpr uint64_t ones = 0x0101010101010101ULL;
    constexpr uint64_t high = 0x8080808080808080ULL;
    uint64_t highBits = 0;
    size_t k = 0;
    for (; k + 8 <= text.size(); k += 8) {
        uint64_t x;
        std::memcpy(&x, text.data() + k, 8);
        highBits |= x;
        const uint64_t low7 = x & ~high;
        const uint64_t atLeastA = low7 + ones * (0x80 - 'A');
        const uint64_t pastZ = low7 + ones * (0x80 - 'Z' - 1);
        const uint64_t upper = atLeastA & ~pastZ & ~x & high;
        x |= upper >> 2; // 0x80 >> 2 == 0x20, the case bit
        std::memcpy(dest + k, &x, 8);
    }
    for (; k < text.size(); ++k) {
        const auto c = static_cast<unsigned char>(text[k]);
        highBits |= c;
        dest[k] = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    }
    if ((highBits & high) == 0) {
        return;
    }
    size_t i = 0;
    while (static_cast<unsigned char>(text[i]) < 0x80) {
        ++i;
    }
    out.resize(base + i);
    const locale_t loc = unicodeLocale();
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c));
            ++i;
            continue;
        }
        char32_t cp = 0;
        const size_t len = decode(text, i, cp);
        if (len == 0) {
            out.push_back(text[i]);
            ++i;
            continue;
        }
        const char32_t lower = loc ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), loc)) : cp;
        encode(lower, out);
        i += len;
    }
}

std::string lowercased(std::string_view text) {
    std::string out;
    appendLowercased(out, text);
    return out;
}

std::string_view trimHorizontalWhitespace(std::string_view text) {
    return trim(text, isHorizontalSpace);
}

std::string_view trimWhitespace(std::string_view text) {
    return trim(text, [](char32_t cp) { return isHorizontalSpace(cp) || isLineBreak(cp); });
}

size_t characterCount(std::string_view text) {
    size_t count = 0;
    for (unsigned char c : text) {
        count += (c & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

std::string_view firstCharacters(std::string_view text, size_t n) {
    size_t seen = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            if (seen == n) {
                return text.substr(0, i);
            }
            ++seen;
        }
    }
    return text;
}

} // namespace perchwell::utf8
