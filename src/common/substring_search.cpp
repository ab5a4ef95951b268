#include "common/substring_search.h"

#include <array>
#include <cstring>

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

} // namespace

bool containsSubstring(std::string_view haystack, std::string_view needle) {
    if (needle.empty()) {
        return true;
    }
    if (needle.size() > haystack.size()) {
        return false;
    }
    size_t pivot = 0;
    for (size_t i = 1; i < needle.size(); ++i) {
        if (byteRanks[static_cast<unsigned char>(needle[i])] >
            byteRanks[static_cast<unsigned char>(needle[pivot])]) {
            pivot = i;
        }
    }
    const char rare = needle[pivot];
    const char* const begin = haystack.data();
    // The pivot byte can only sit where the whole needle still fits around it.
    const char* p = begin + pivot;
    const char* const last = begin + (haystack.size() - needle.size()) + pivot;
    while (p <= last) {
        p = static_cast<const char*>(std::memchr(p, rare, static_cast<size_t>(last - p) + 1));
        if (p == nullptr) {
            return false;
        }
        if (std::memcmp(p - pivot, needle.data(), needle.size()) == 0) {
            return true;
        }
        ++p;
    }
    return false;
}

} // namespace perchwell
