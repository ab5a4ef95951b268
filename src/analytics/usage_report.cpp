#include "analytics/usage_report.h"

#include "analytics/local_calendar.h"
#include "analytics/transcript_pass.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <mutex>
#include <unistd.h>

namespace perchwell {
namespace {

const char* keyName(UsageReport::Grouping g) {
    switch (g) {
    case UsageReport::Grouping::daily:
        return "date";
    case UsageReport::Grouping::session:
        return "sessionId";
    case UsageReport::Grouping::project:
        return "project";
    }
    return "date";
}

const char* listName(UsageReport::Grouping g) {
    switch (g) {
    case UsageReport::Grouping::daily:
        return "daily";
    case UsageReport::Grouping::session:
        return "sessions";
    case UsageReport::Grouping::project:
        return "projects";
    }
    return "daily";
}

std::string withSeparators(int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) {
            out += ',';
        }
        out += digits[i];
    }
    return n < 0 ? "-" + out : out;
}

void writeFigures(rapidjson::Writer<rapidjson::StringBuffer>& w, const UsageReport::Row& row) {
    w.Key("inputTokens");
    w.Int64(row.usage.inputTokens);
    w.Key("outputTokens");
    w.Int64(row.usage.outputTokens);
    w.Key("cacheCreationTokens");
    w.Int64(row.usage.cacheCreationInputTokens);
    w.Key("cacheReadTokens");
    w.Int64(row.usage.cacheReadInputTokens);
    w.Key("totalTokens");
    w.Int64(row.usage.totalTokens());
    w.Key("turns");
    w.Int64(row.turnCount);
}

} // namespace

std::vector<UsageReport::Row> UsageReport::rows(const UsageLedger& ledger, const Options& options) {
    std::map<std::string, Row> grouped;
    for (const auto& cell : ledger.cells()) {
        if ((options.sinceDay && cell.day < *options.sinceDay) ||
            (options.untilDay && cell.day > *options.untilDay)) {
            continue;
        }
        std::string key = options.grouping == Grouping::daily     ? LocalCalendar::dateText(cell.day)
                          : options.grouping == Grouping::session ? cell.sessionId
                                                                  : cell.cwd;
        auto& row = grouped[key];
        row.key = std::move(key);
        row.usage += cell.usage;
        row.turnCount += cell.turnCount;
    }
    std::vector<Row> out;
    out.reserve(grouped.size());
    for (auto& [key, row] : grouped) {
        out.push_back(std::move(row));
    }
    return out;
}

UsageReport::Row UsageReport::totals(const std::vector<Row>& rows) {
    Row total{"Total", {}, 0};
    for (const auto& r : rows) {
        total.usage += r.usage;
        total.turnCount += r.turnCount;
    }
    return total;
}

std::string UsageReport::formatJson(const std::vector<Row>& rows, Grouping grouping) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key(listName(grouping));
    w.StartArray();
    for (const auto& row : rows) {
        w.StartObject();
        w.Key(keyName(grouping));
        w.String(row.key.c_str(), static_cast<rapidjson::SizeType>(row.key.size()));
        writeFigures(w, row);
        w.EndObject();
    }
    w.EndArray();
    w.Key("totals");
    w.StartObject();
    writeFigures(w, totals(rows));
    w.EndObject();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

std::string UsageReport::formatTable(const std::vector<Row>& rows, Grouping grouping) {
    static const char* headings[] = {"Input", "Output", "Cache create", "Cache read", "Total", "Turns"};
    std::vector<std::vector<std::string>> lines;
    const char* first = grouping == Grouping::daily     ? "Date"
                        : grouping == Grouping::session ? "Session"
                                                        : "Project";
    lines.push_back({first, headings[0], headings[1], headings[2], headings[3], headings[4], headings[5]});
    auto all = rows;
    all.push_back(totals(rows));
    for (const auto& r : all) {
        lines.push_back({r.key, withSeparators(r.usage.inputTokens), withSeparators(r.usage.outputTokens),
                         withSeparators(r.usage.cacheCreationInputTokens),
                         withSeparators(r.usage.cacheReadInputTokens), withSeparators(r.usage.totalTokens()),
                         withSeparators(r.turnCount)});
    }
    std::vector<size_t> widths(7, 0);
    for (const auto& l : lines) {
        for (size_t c = 0; c < l.size(); ++c) {
            widths[c] = std::max(widths[c], l[c].size());
        }
    }
    std::string out;
    const auto rule = [&] {
        for (size_t c = 0; c < widths.size(); ++c) {
            out += std::string(widths[c] + (c == 0 ? 0 : 2), '-');
        }
        out += '\n';
    };
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i == 1 || i + 1 == lines.size()) {
            rule();
        }
        for (size_t c = 0; c < lines[i].size(); ++c) {
            const auto& cell = lines[i][c];
            const std::string pad(widths[c] - cell.size(), ' ');
            out += c == 0 ? cell + pad : "  " + pad + cell;
        }
        out += '\n';
    }
    return out;
}

const char* UsageReport::usageText() {
    return "usage: perchwell usage [daily|session|project] [--since YYYY-MM-DD] [--until YYYY-MM-DD] "
           "[--json]\n";
}

Result<UsageReport::Options> UsageReport::parseArguments(const std::vector<std::string>& arguments) {
    Options options;
    bool grouped = false;
    for (size_t i = 0; i < arguments.size(); ++i) {
        const std::string& a = arguments[i];
        if (a == "--json") {
            options.json = true;
        } else if (a == "--since" || a == "--until") {
            if (i + 1 >= arguments.size()) {
                return Error{a + " needs a date (YYYY-MM-DD)"};
            }
            const int64_t day = LocalCalendar::parseDate(arguments[++i]);
            if (day < 0) {
                return Error{"not a date (YYYY-MM-DD): " + arguments[i]};
            }
            (a == "--since" ? options.sinceDay : options.untilDay) = day;
        } else if (!grouped && (a == "daily" || a == "session" || a == "project")) {
            grouped = true;
            options.grouping = a == "daily"     ? Grouping::daily
                               : a == "session" ? Grouping::session
                                                : Grouping::project;
        } else {
            return Error{"unknown argument: " + a};
        }
    }
    return options;
}

int UsageReport::run(const std::vector<std::string>& arguments, const std::string& root) {
    const auto options = parseArguments(arguments);
    if (!options) {
        std::fprintf(stderr, "perchwell: %s\n%s", options.error().message.c_str(), usageText());
        return 2;
    }
    TranscriptPass::Options passOptions;
    passOptions.assistantLinesOnly = true;
    passOptions.tokensOnly = true;
    const bool terminal = ::isatty(2) == 1;
    size_t ticks = 0;
    bool shown = false;
    if (terminal) {
        passOptions.progress = [&](size_t done, size_t total) {
            // Only when the pass takes more than a second.
            if (++ticks < 10) {
                return;
            }
            shown = true;
            std::fprintf(stderr, "\rReading transcripts: %zu of %zu files", done, total);
        };
    }
    TranscriptPass pass(root, std::move(passOptions));
    std::vector<UsageLedger> ledgers(pass.workers());
    std::vector<LocalDayCache> calendars(pass.workers());
    pass.refresh([&](unsigned worker, const TraceEntry& entry, const TranscriptPass::Line&) {
        if (const auto* turn = entry.assistant()) {
            ledgers[worker].add(*turn, calendars[worker].dayNumber(turn->timestamp));
        }
    });
    if (shown) {
        std::fputs("\r\033[K", stderr);
    }
    for (size_t i = 1; i < ledgers.size(); ++i) {
        ledgers[0].merge(std::move(ledgers[i]));
    }
    const auto rows = UsageReport::rows(ledgers[0], *options);
    const std::string text =
        options->json ? formatJson(rows, options->grouping) : formatTable(rows, options->grouping);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return 0;
}

} // namespace perchwell
