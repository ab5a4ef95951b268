#pragma once

#include "analytics/trace_search.h"
#include "analytics/transcript_pass.h"
#include "analytics/turn_diff_engine.h"
#include "analytics/usage_ledger.h"
#include "common/unique_fd.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace perchwell {

// What the Trace view needs of every transcript, without holding the transcripts: the
// token figures (a UsageLedger), and per entry 48 bytes plus its searchable text,
// lower-cased, in an unlinked file of the data directory. Search scans that text and
// reads the matching lines back from their transcripts; a session's turns for the diff
// are read back the same way. refresh() reads only what changed since the last call.
//
// Not thread-safe: one thread at a time (the view model's executor).
class TraceIndex {
public:
    explicit TraceIndex(std::string root, unsigned workers = 0);

    TranscriptPass::Outcome refresh();

    const UsageLedger& ledger() const { return ledger_; }
    size_t entryCount() const { return records_.size(); }

    // TraceSearch::run over all entries, oldest first, without reading them all.
    std::vector<TraceSearch::Hit> search(std::string_view query) const;
    // The assistant turns of one session, oldest first (sub-agent turns included).
    std::vector<TraceTurn> sessionTurns(const std::string& sessionId) const;
    // Every entry, oldest first, read back (what scanAll would give).
    std::vector<TraceEntry> entries() const;

private:
    struct Record {
        int64_t offset;     // of the line in its file
        uint64_t textStart; // in the text file
        double timestamp;
        uint32_t file;
        uint32_t length;     // of the line
        uint32_t textLength; // of its searchable text
        uint32_t session;
    };
    // What one worker read in a refresh; its session numbers are its own until merged.
    struct Pending {
        std::vector<Record> records;
        std::string text;
        std::vector<std::string> sessions;
        std::unordered_map<std::string, uint32_t> sessionIndex;
        size_t flushed = 0; // records whose text is written
    };

    void reset();
    static void appendSearchText(const TraceEntry& entry, std::string& out);
    // Open transcripts of one reader, by file index.
    using OpenFiles = std::unordered_map<uint32_t, UniqueFd>;
    std::optional<TraceEntry> readBack(const Record& r, OpenFiles& open) const;
    bool earlier(uint32_t a, uint32_t b) const;

    TranscriptPass pass_;
    UsageLedger ledger_;
    std::vector<Record> records_; // in the order they were read (the text file's order)
    std::vector<uint32_t> order_; // record indices by (timestamp, file, offset)
    std::vector<uint32_t> rank_;  // record index → position in order_
    std::vector<std::string> sessions_;
    std::unordered_map<std::string, uint32_t> sessionIndex_;
    UniqueFd text_;
    uint64_t textSize_ = 0;
};

} // namespace perchwell
