#include "analytics/grapheme_text.h"

#include <unicode/ubrk.h>
#include <unicode/utext.h>

#include <memory>

namespace perchwell::graphemes {
namespace {

// Calls `boundary` with each character boundary after the first until it returns false.
template <typename F> void walkWithIcu(std::string_view text, size_t base, F& boundary);

// ASCII other than CR is one character per byte, and a boundary lies between two such
// bytes; ICU is asked only from the byte before the first other one.
template <typename F> void walk(std::string_view text, F boundary) {
    if (text.empty()) {
        return;
    }
    size_t special = 0;
    while (special < text.size() && static_cast<unsigned char>(text[special]) < 0x80 &&
           text[special] != '\r') {
        ++special;
    }
    const size_t plain = special == text.size() ? special : (special > 0 ? special - 1 : 0);
    for (size_t i = 1; i <= plain; ++i) {
        if (!boundary(i)) {
            return;
        }
    }
    if (plain < text.size()) {
        walkWithIcu(text.substr(plain), plain, boundary);
    }
}

template <typename F> void walkWithIcu(std::string_view text, size_t base, F& boundary) {
    // Opening an iterator costs far more than using one: one per thread, kept.
    thread_local UErrorCode openStatus = U_ZERO_ERROR;
    thread_local std::unique_ptr<UBreakIterator, decltype(&ubrk_close)> breaks(
        ubrk_open(UBRK_CHARACTER, nullptr, nullptr, 0, &openStatus), &ubrk_close);
    UErrorCode status = U_ZERO_ERROR;
    UText* ut = utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status);
    std::unique_ptr<UText, decltype(&utext_close)> utext(ut, &utext_close);
    UBreakIterator* bi = breaks.get();
    if (U_FAILURE(openStatus) || U_FAILURE(status) || bi == nullptr) {
        // Without ICU's data every byte counts as a character: never a crash.
        for (size_t i = 1; i <= text.size() && boundary(base + i); ++i) {
        }
        return;
    }
    ubrk_setUText(bi, ut, &status);
    for (int32_t b = ubrk_next(bi); b != UBRK_DONE; b = ubrk_next(bi)) {
        if (!boundary(base + static_cast<size_t>(b))) {
            return;
        }
    }
}

} // namespace

size_t count(std::string_view text) {
    size_t n = 0;
    walk(text, [&](size_t) {
        ++n;
        return true;
    });
    return n;
}

size_t byteOffset(std::string_view text, size_t n) {
    if (n == 0) {
        return 0;
    }
    size_t seen = 0;
    size_t offset = text.size();
    walk(text, [&](size_t b) {
        if (++seen == n) {
            offset = b;
            return false;
        }
        return true;
    });
    return offset;
}

std::string_view slice(std::string_view text, size_t from, size_t n) {
    const size_t start = byteOffset(text, from);
    const std::string_view rest = text.substr(start);
    return rest.substr(0, byteOffset(rest, n));
}

std::string truncated(std::string_view text, size_t limit) {
    const size_t cut = byteOffset(text, limit);
    if (cut >= text.size()) {
        return std::string(text);
    }
    return std::string(text.substr(0, byteOffset(text, limit - 1))) + "\u2026";
}

} // namespace perchwell::graphemes
