#pragma once

#include "common/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace perchwell::files {

// Creates `path` and any missing parents. Only directories created here get `mode`
// for the last component; parents get the usual 0755.
Result<void> ensureDirectory(const std::string& path, mode_t mode = 0755);

// Writes all of `bytes`, retrying interrupted writes; false on any other failure.
bool writeAll(int fd, std::string_view bytes);

// Reads `fd` to its end; nothing on a read error or when it holds more than `limit` bytes.
std::optional<std::string> readAll(int fd, size_t limit = SIZE_MAX);

// Whole-file read; nothing when the file cannot be opened or read.
std::optional<std::string> readFile(const std::string& path);

// Writes to a temporary file beside `path`, then renames it over `path`, so a reader
// sees either the old or the new content, never a mix.
Result<void> writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode = 0600);

// Appends `bytes` with one write(2) on an O_APPEND descriptor, so concurrent writers
// never interleave or truncate each other's lines.
Result<void> appendToFile(const std::string& path, std::string_view bytes, mode_t mode = 0600);

std::string parentDirectory(const std::string& path);

std::string errnoText(int err);

} // namespace perchwell::files
