#include "common/substring_search.h"

#include <array>
#include <cstdint>
#include <cstring>
#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace perchwell {
namespace {

// Bytes from most to least common in prose, shell commands and source code; any
// byte not listed counts as rarer than all of them.
constexpr std::string_view commonBytes =
    " etaoinsrhldcumfpgwyb.,/_-\n\t()\"':;=0123456789vkxjqz{}[]<>$#@!%^&*+|\\~`?";

constexpr std::array<unsigned char, 256> makeRanks() {
    std::array<unsigned char, 256> ranks{};
    for (auto& r : ranks) {
        r = 255;
    }
    for (size_t i = 0; i < commonBytes.size(); ++i) {
        ranks[static_cast<unsigned char>(commonBytes[i])] = static_cast<unsigned char>(i);
    }
    return ranks;
}

constexpr auto byteRanks = makeRanks();

// Candidate start positions are those where the needle's two rarest bytes both sit at
// their offsets; whole blocks of positions are checked at once, the rest one by one.
struct Probe {
    std::string_view needle;
    size_t rare;  // offset of the rarest byte
    size_t other; // offset of the next rarest
};

bool verify(const char* text, size_t at, std::string_view needle) {
    return std::memcmp(text + at, needle.data(), needle.size()) == 0;
}

// One candidate per occurrence of the rarest byte, found with memchr.
bool scanTail(std::string_view haystack, const Probe& probe, size_t at) {
    const char* const text = haystack.data();
    const size_t starts = haystack.size() - probe.needle.size() + 1;
    while (at < starts) {
        const auto* hit = static_cast<const char*>(
            std::memchr(text + at + probe.rare, probe.needle[probe.rare], starts - at));
        if (hit == nullptr) {
            return false;
        }
        at = static_cast<size_t>(hit - text) - probe.rare;
        if (verify(text, at, probe.needle)) {
            return true;
        }
        ++at;
    }
    return false;
}

#if defined(__x86_64__)
__attribute__((target("avx2"))) bool scanAvx2(std::string_view haystack, const Probe& probe) {
    const char* const text = haystack.data();
    const size_t starts = haystack.size() - probe.needle.size() + 1;
    const __m256i rareByte = _mm256_set1_epi8(probe.needle[probe.rare]);
    const __m256i otherByte = _mm256_set1_epi8(probe.needle[probe.other]);
    size_t at = 0;
    for (; at + 32 <= starts; at += 32) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + at + probe.rare));
        const __m256i b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(text + at + probe.other));
        auto mask = static_cast<uint32_t>(_mm256_movemask_epi8(
            _mm256_and_si256(_mm256_cmpeq_epi8(a, rareByte), _mm256_cmpeq_epi8(b, otherByte))));
        while (mask != 0) {
            if (verify(text, at + static_cast<size_t>(__builtin_ctz(mask)), probe.needle)) {
                return true;
            }
            mask &= mask - 1;
        }
    }
    return scanTail(haystack, probe, at);
}
#endif

} // namespace

bool containsSubstring(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) {
        return true;
    }
    if (needle.size() > haystack.size()) {
        return false;
    }
    const auto rank = [&](size_t i) { return byteRanks[static_cast<unsigned char>(needle[i])]; };
    Probe probe{needle, 0, needle.size() - 1};
    for (size_t i = 1; i < needle.size(); ++i) {
        if (rank(i) > rank(probe.rare)) {
            probe.rare = i;
        }
    }
    probe.other = probe.rare == 0 ? needle.size() - 1 : 0;
    for (size_t i = 0; i < needle.size(); ++i) {
        if (i != probe.rare && rank(i) > rank(probe.other)) {
            probe.other = i;
        }
    }
#if defined(__x86_64__)
    static const bool avx2 = __builtin_cpu_supports("avx2");
    return avx2 ? scanAvx2(haystack, probe) : scanTail(haystack, probe, 0);
#else
    return scanTail(haystack, probe, 0);
#endif
}

} // namespace perchwell
