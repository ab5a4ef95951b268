#pragma once

#include "workflow/jsonl_entry.h"

#include <cstdint>
#include <optional>
#include <string_view>

namespace perchwell::JSONLParser {

// One transcript line without its terminator → its record, or nothing when the line
// carries nothing usable (not a JSON object, no string "type", or a user/assistant
// line missing a required field). Stateless; callable from any thread.
std::optional<JSONLEntry> parse(std::string_view line);

// RFC 3339 date-time with or without fractional seconds and a "Z" or ±hh:mm zone,
// e.g. 2025-06-01T09:30:15.123Z → seconds since the Unix epoch. Impossible calendar
// dates and times (2025-02-30, 24:00:00) are rejected.
std::optional<double> parseTimestamp(std::string_view text);

// Days from 1970-01-01 to the proleptic Gregorian date y-m-d.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d);

} // namespace perchwell::JSONLParser
