#pragma once

#include "common/serial_executor.h"
#include "workflow/jsonl_entry.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace perchwell {

// Reads a transcript incrementally: the records of the complete lines after a byte
// offset. Keeps no state between calls; the offset lives in the store.
//
// Threads: tailFile runs on the reader's own SerialExecutor, so at most one file is
// read at a time; the call is synchronous for its caller, which waits. To not wait,
// wrap calls in async(), as with the store:
//     auto next = reader.async([=](WorkflowReader& r) { return r.tailFile(path, offset); });
class WorkflowReader {
public:
    struct TailResult {
        std::vector<JSONLEntry> entries;
        int64_t newOffset = 0;
        // Whether bytes beyond newOffset were left unread because the chunk was full:
        // call again from newOffset to go on.
        bool more = false;
    };

    // Small enough that a chunk is still in the CPU cache when it is parsed (measured:
    // 4 MiB back-fills faster than 64 MiB) and that memory stays low whatever the file.
    static constexpr size_t defaultChunkBytes = size_t{4} << 20;

    // At most `chunkBytes` are read per call (more only when a single line is longer).
    explicit WorkflowReader(size_t chunkBytes = defaultChunkBytes);

    // The records of the complete lines found after `fromOffset`, up to one chunk, and
    // the offset just after the last line feed consumed. Lines that are not JSON, not
    // UTF-8 or not usable are consumed and dropped; a trailing partial line is left for
    // the next call. Never fails: an unreadable, missing or shrunken file gives no
    // records and the offset unchanged.
    TailResult tailFile(const std::string& path, int64_t fromOffset);

    template <typename Op> auto async(Op op) {
        return executor_.submit([this, op = std::move(op)]() mutable { return op(*this); });
    }

    // The same work, done on the calling thread (no executor).
    static TailResult readChunk(const std::string& path, int64_t fromOffset, size_t chunkBytes);

    // Bytes read land here. Kept between calls, so that a back-fill does not map fresh
    // pages for every chunk; handed back after a small read, so that it does not stay
    // large while only appended lines come in.
    class Buffer {
    public:
        char* data() { return data_.get(); }
        size_t capacity() const { return capacity_; }
        // At least `size` bytes, keeping the first `keep` bytes.
        void reserve(size_t size, size_t keep);
        // Frees a large buffer after a call that needed only `used` bytes of it.
        void trim(size_t used);

    private:
        std::unique_ptr<char[]> data_;
        size_t capacity_ = 0;
    };

private:
    static TailResult readChunk(const std::string& path, int64_t fromOffset, size_t chunkBytes,
                                Buffer& buffer);

    size_t chunkBytes_;
    Buffer buffer_; // used on the executor only
    SerialExecutor executor_{"pw-reader"};
};

} // namespace perchwell
