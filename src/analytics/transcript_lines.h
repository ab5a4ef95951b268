#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>

namespace perchwell {

// Walks the complete lines of a transcript that another program is still writing. Reads
// in chunks, so memory stays at one chunk plus the longest line; a trailing piece
// without its line feed is left for the next call.
class TranscriptLines {
public:
    struct Identity {
        dev_t device = 0;
        ino_t inode = 0;
        int64_t size = 0;
        bool operator==(const Identity&) const = default;
    };
    struct Outcome {
        Identity identity;     // of the file as opened
        int64_t endOffset = 0; // just after the last line feed consumed
    };

    static constexpr size_t chunkBytes = size_t{1} << 20;

    // Calls `line` for every non-empty complete line after `fromOffset` (a line
    // feed is expected there), with the offset just after the line. Nothing when the
    // file cannot be opened or read; a file shorter than `fromOffset` gives no lines
    // and its size as identity, for the caller to see it was replaced.
    static std::optional<Outcome> forEach(const std::string& path, int64_t fromOffset,
                                          const std::function<void(std::string_view, int64_t)>& line);
};

} // namespace perchwell
