#pragma once

#include <string>

namespace perchwell::bench {

// A PreToolUse Bash event of exactly `size` bytes whose command passes every rule.
std::string bashEvent(size_t size = 1024);

// A PreToolUse Write event whose content is about `contentBytes` of shell-like words
// on short lines, like a generated file.
std::string writeEvent(size_t contentBytes = 1024 * 1024);

} // namespace perchwell::bench
