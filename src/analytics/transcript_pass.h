#pragma once

#include "analytics/trace_records.h"
#include "analytics/transcript_lines.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace perchwell {

// Reads every transcript under a root in parallel, one file per worker at a time, and
// on later calls only what changed: new files and the bytes appended to known ones.
// When a known file shrank, was replaced or went away, everything is read again.
class TranscriptPass {
public:
    struct Line {
        size_t file;     // index into files()
        int64_t offset;  // of the line's first byte
        uint32_t length; // bytes, without the line feed
    };
    // Called from worker `worker` (0 .. workers-1) for every entry read; calls for one
    // file come in file order from one worker.
    using Visit = std::function<void(unsigned worker, const TraceEntry& entry, const Line& line)>;

    struct Options {
        unsigned workers = 0; // 0: one per core
        // Skip lines that cannot be assistant lines before parsing them (token reports).
        bool assistantLinesOnly = false;
        // Entries without their texts and tool calls (TraceParser::parseForTokens).
        bool tokensOnly = false;
        // Called on the calling thread about every 100 ms while a pass runs.
        std::function<void(size_t filesDone, size_t filesTotal)> progress;
    };

    struct Outcome {
        bool rebuilt = false; // what was known before was dropped (see onReset)
        size_t filesRead = 0; // files that gave new complete lines
        int64_t bytesRead = 0;
    };

    explicit TranscriptPass(std::string root);
    TranscriptPass(std::string root, Options options);

    unsigned workers() const { return workers_; }
    const std::vector<std::string>& files() const { return paths_; }
    const std::string& root() const { return root_; }

    // Brings everything up to date. `onReset` runs first when the caller must forget
    // what earlier visits told it.
    Outcome refresh(const Visit& visit, const std::function<void()>& onReset = {});

private:
    struct FileState {
        TranscriptLines::Identity identity;
        int64_t offset = 0;
    };
    struct Job {
        size_t file;
        int64_t from;
        int64_t size;
    };

    std::string root_;
    Options options_;
    unsigned workers_;
    std::vector<std::string> paths_;
    std::vector<FileState> states_;
};

} // namespace perchwell
