#pragma once

#include "analytics/trace_records.h"

#include <cstdint>
#include <map>
#include <string>

namespace perchwell::bench {

// Writes a Claude Code transcript tree the way Claude Code writes it: one line per
// content block of an assistant message (each repeating the message's usage), tool
// results as "user" lines, lines of other types, and sub-agent transcripts under
// <project>/<session>/subagents/. Deterministic for a seed.
class TreeGenerator {
public:
    struct Options {
        std::string root; // the projects directory
        int projects = 40;
        int sessions = 1000;
        int64_t targetBytes = 500ll << 20;
        uint64_t seed = 1;
        int64_t firstDay = 20000; // days since 1970-01-01 (UTC) of the oldest session
        int days = 60;
        double subagentShare = 0.3;
    };
    // What a reader must find, counted as it was written: each message's usage once.
    struct Expected {
        std::map<int64_t, TokenUsage> usageByUtcDay;
        std::map<std::string, TokenUsage> usageBySession;
        int64_t assistantLines = 0;
        int64_t typedPrompts = 0;
        int64_t bytes = 0;
        TokenUsage total;
    };

    static Expected generate(const Options& options);
};

} // namespace perchwell::bench
