#pragma once

#include <string_view>

namespace perchwell {

// True when `needle` occurs in `haystack`. Scans with memchr for the needle's rarest
// byte (by typical text and code frequency) and verifies candidates, which is far
// cheaper than a general search on megabyte texts.
bool containsSubstring(std::string_view haystack, std::string_view needle);

} // namespace perchwell
