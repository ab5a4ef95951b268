#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace perchwell::graphemes {

// User-perceived characters (extended grapheme clusters, ICU's rules) of UTF-8 text.
size_t count(std::string_view text);
// Byte offset at which the character numbered `n` starts; text.size() when it has fewer.
size_t byteOffset(std::string_view text, size_t n);
// At most `n` characters from character `from`.
std::string_view slice(std::string_view text, size_t from, size_t n);
// The text, or its first limit - 1 characters and "…" when it is longer than `limit`.
std::string truncated(std::string_view text, size_t limit);

} // namespace perchwell::graphemes
