#pragma once

#include "common/serial_executor.h"
#include "workflow/jsonl_entry.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace perchwell {

// Reads a transcript incrementally: the records of the complete lines after a byte
// offset. Keeps no state between calls; the offset lives in the store.
//
// Threads: tailFile runs on the reader's own SerialExecutor, so at most one file is
// read at a time; the call is synchronous for its caller, which waits.
class WorkflowReader {
public:
    struct TailResult {
        std::vector<JSONLEntry> entries;
        int64_t newOffset = 0;
        // Whether bytes beyond newOffset were left unread because the chunk was full:
        // call again from newOffset to go on.
        bool more = false;
    };

    static constexpr size_t defaultChunkBytes = size_t{64} << 20;

    // At most `chunkBytes` are read per call (more only when a single line is longer).
    explicit WorkflowReader(size_t chunkBytes = defaultChunkBytes);

    // The records of the complete lines found after `fromOffset`, up to one chunk, and
    // the offset just after the last line feed consumed. Lines that are not JSON, not
    // UTF-8 or not usable are consumed and dropped; a trailing partial line is left for
    // the next call. Never fails: an unreadable, missing or shrunken file gives no
    // records and the offset unchanged.
    TailResult tailFile(const std::string& path, int64_t fromOffset);

    // The same work, done on the calling thread (no executor).
    static TailResult readChunk(const std::string& path, int64_t fromOffset, size_t chunkBytes);

private:
    size_t chunkBytes_;
    SerialExecutor executor_{"pw-reader"};
};

} // namespace perchwell
