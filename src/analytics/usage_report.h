#pragma once

#include "analytics/trace_records.h"
#include "analytics/usage_ledger.h"
#include "common/result.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace perchwell {

// The `perchwell usage` report: token figures per day, session or project.
class UsageReport {
public:
    enum class Grouping { daily, session, project };

    struct Options {
        Grouping grouping = Grouping::daily;
        std::optional<int64_t> sinceDay; // LocalCalendar day numbers, inclusive
        std::optional<int64_t> untilDay;
        bool json = false;
    };
    struct Row {
        std::string key; // "YYYY-MM-DD", session id or working directory
        TokenUsage usage;
        int64_t turnCount = 0;
        bool operator==(const Row&) const = default;
    };

    // Rows in key order (dates ascending); days outside since/until are left out.
    static std::vector<Row> rows(const UsageLedger& ledger, const Options& options);
    static Row totals(const std::vector<Row>& rows);

    static std::string formatTable(const std::vector<Row>& rows, Grouping grouping);
    static std::string formatJson(const std::vector<Row>& rows, Grouping grouping);

    // "usage [daily|session|project] [--since YYYY-MM-DD] [--until YYYY-MM-DD] [--json]"
    // from the arguments after "usage"; an error text for anything else.
    static Result<Options> parseArguments(const std::vector<std::string>& arguments);
    static const char* usageText();

    // The whole command: reads the transcripts under `root` and prints the report.
    // Returns the exit status.
    static int run(const std::vector<std::string>& arguments, const std::string& root);
};

} // namespace perchwell
