#include "analytics/transcript_lines.h"

#include "common/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace perchwell {

std::optional<TranscriptLines::Outcome>
TranscriptLines::forEach(const std::string& path, int64_t fromOffset,
                         const std::function<void(std::string_view, int64_t)>& line) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return std::nullopt;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    Outcome outcome{{st.st_dev, st.st_ino, static_cast<int64_t>(st.st_size)}, fromOffset};
    if (st.st_size < fromOffset) {
        return outcome;
    }
    std::vector<char> buffer(chunkBytes);
    size_t held = 0;               // bytes of an unfinished line at the buffer's start
    int64_t position = fromOffset; // file offset of buffer[0]
    for (;;) {
        if (held == buffer.size()) {
            buffer.resize(buffer.size() * 2); // one line longer than the buffer
        }
        const ssize_t n = ::pread(fd.get(), buffer.data() + held, buffer.size() - held,
                                  position + static_cast<int64_t>(held));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return outcome.endOffset == fromOffset ? std::nullopt : std::optional(outcome);
        }
        if (n == 0) {
            break;
        }
        const size_t filled = held + static_cast<size_t>(n);
        size_t start = 0;
        while (start < filled) {
            const void* hit = std::memchr(buffer.data() + start, '\n', filled - start);
            if (hit == nullptr) {
                break;
            }
            const size_t end = static_cast<size_t>(static_cast<const char*>(hit) - buffer.data());
            const int64_t after = position + static_cast<int64_t>(end) + 1;
            if (end > start) {
                line(std::string_view(buffer.data() + start, end - start), after);
            }
            outcome.endOffset = after;
            start = end + 1;
        }
        held = filled - start;
        std::memmove(buffer.data(), buffer.data() + start, held);
        position += static_cast<int64_t>(start);
        if (held < chunkBytes && buffer.size() > chunkBytes) {
            buffer.resize(chunkBytes); // back to one chunk after a long line
            buffer.shrink_to_fit();
        }
    }
    return outcome;
}

} // namespace perchwell
