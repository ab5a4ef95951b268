#pragma once

#include <string_view>

namespace perchwell {

// True when `needle` occurs in `haystack`. Checks 16 or 32 positions at a time for the
// needle's two rarest bytes (by typical text and code frequency) and verifies the few
// candidates, which is far cheaper than a general search on megabyte texts.
bool containsSubstring(std::string_view haystack, std::string_view needle);

} // namespace perchwell
