#pragma once

#include <string>
#include <string_view>

namespace perchwell::utf8 {

bool isValid(std::string_view text);

// Decodes the code point at byte `i` into `cp`; its length in bytes, or 0 when the
// bytes there are not a valid UTF-8 sequence.
size_t decode(std::string_view text, size_t i, char32_t& cp);

// Unicode-aware lower case (simple case mapping); invalid sequences pass through unchanged.
std::string lowercased(std::string_view text);
// The same, appended to `out` (whose spare capacity it uses).
void appendLowercased(std::string& out, std::string_view text);

// Trims spaces, tabs and other horizontal white space (never line breaks) from both ends.
std::string_view trimHorizontalWhitespace(std::string_view text);
// Trims white space and line breaks, Unicode's included, from both ends.
std::string_view trimWhitespace(std::string_view text);

bool isAscii(std::string_view text);

// Characters (code points) in `text`; a stray byte counts as one.
size_t characterCount(std::string_view text);
// The first `n` characters of `text`, never a split sequence.
std::string_view firstCharacters(std::string_view text, size_t n);

} // namespace perchwell::utf8
