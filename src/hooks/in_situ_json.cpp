#include "hooks/in_situ_json.h"

#include "common/utf8.h"

#include <algorithm>
#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace perchwell {
namespace {

// The SSE2 string scan loads whole aligned 16-byte blocks; it may look past the end.
constexpr size_t padding = 16;

// RapidJSON's SSE2 string scan stops at bytes up to 0x19 only, so it would let 0x1A to
// 0x1F through inside strings. Those bytes are not JSON anywhere (not even white space).
bool holdsControlBytesTheScanMisses(std::string_view text) {
    size_t i = 0;
#if defined(__SSE2__)
    const __m128i low = _mm_set1_epi8(0x1A);
    const __m128i high = _mm_set1_epi8(0x1F);
    for (; i + 16 <= text.size(); i += 16) {
        const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
        const __m128i inRange =
            _mm_and_si128(_mm_cmpeq_epi8(_mm_max_epu8(x, low), x), _mm_cmpeq_epi8(_mm_min_epu8(x, high), x));
        if (_mm_movemask_epi8(inRange) != 0) {
            return true;
        }
    }
#endif
    for (; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x1A && c <= 0x1F) {
            return true;
        }
    }
    return false;
}

} // namespace

InSituJson::InSituJson(std::string_view text)
    : buffer_(std::make_unique<std::string>()), size_(text.size()),
      utf8Valid_(!holdsControlBytesTheScanMisses(text) && utf8::isValid(text)) {
    buffer_->reserve(text.size() + padding);
    buffer_->append(text);
    buffer_->append(padding, '\0');
}

bool InSituJson::neutraliseNumber(std::string& text, size_t offset) {
    const auto digitAt = [&](size_t i) { return i < text.size() && text[i] >= '0' && text[i] <= '9'; };
    const auto digitsFrom = [&](size_t i) {
        while (digitAt(i)) {
            ++i;
        }
        return i;
    };
    size_t end = offset;
    if (end < text.size() && text[end] == '-') {
        ++end;
    }
    if (!digitAt(end)) {
        return false;
    }
    end = digitsFrom(end);
    if (end < text.size() && text[end] == '.' && digitAt(end + 1)) {
        end = digitsFrom(end + 1);
    }
    if (end < text.size() && (text[end] == 'e' || text[end] == 'E')) {
        size_t exponent = end + 1;
        if (exponent < text.size() && (text[exponent] == '+' || text[exponent] == '-')) {
            ++exponent;
        }
        if (digitAt(exponent)) {
            end = digitsFrom(exponent);
        }
    }
    text[offset] = '0';
    std::fill(text.begin() + static_cast<std::ptrdiff_t>(offset) + 1,
              text.begin() + static_cast<std::ptrdiff_t>(end), ' ');
    return true;
}

bool InSituJson::decodedStringValid(std::string_view decoded) {
    // A surrogate encodes as ED A0..BF; valid UTF-8 holds no such pair.
    const char* p = decoded.data();
    const char* const end = p + decoded.size();
    while ((p = static_cast<const char*>(std::memchr(p, '\xED', static_cast<size_t>(end - p)))) != nullptr) {
        if (p + 1 < end && static_cast<unsigned char>(p[1]) >= 0xA0) {
            return false;
        }
        ++p;
    }
    return true;
}

} // namespace perchwell
