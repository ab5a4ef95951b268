#pragma once

#include <string>
#include <string_view>

namespace perchwell::utf8 {

bool isValid(std::string_view text);

// Unicode-aware lower case (simple case mapping); invalid sequences pass through unchanged.
std::string lowercased(std::string_view text);
// The same, appended to `out` (whose spare capacity it uses).
void appendLowercased(std::string& out, std::string_view text);

// Trims spaces, tabs and other horizontal white space (never line breaks) from both ends.
std::string_view trimHorizontalWhitespace(std::string_view text);

bool isAscii(std::string_view text);

} // namespace perchwell::utf8
