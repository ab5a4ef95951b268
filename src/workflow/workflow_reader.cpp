#include "workflow/workflow_reader.h"

#include "common/unique_fd.h"
#include "workflow/jsonl_parser.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace perchwell {
namespace {

// pread until `want` bytes or the end of the file; -1 on a read error.
ssize_t readAt(int fd, char* buffer, size_t want, int64_t offset) {
    size_t done = 0;
    while (done < want) {
        const ssize_t n =
            ::pread(fd, buffer + done, want - done, static_cast<off_t>(offset) + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (n == 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

} // namespace

WorkflowReader::WorkflowReader(size_t chunkBytes) : chunkBytes_(std::max<size_t>(chunkBytes, 1)) {}

WorkflowReader::TailResult WorkflowReader::tailFile(const std::string& path, int64_t fromOffset) {
    return executor_.run([&] { return readChunk(path, fromOffset, chunkBytes_); }).get();
}

WorkflowReader::TailResult WorkflowReader::readChunk(const std::string& path, int64_t fromOffset,
                                                     size_t chunkBytes) {
    TailResult result;
    result.newOffset = fromOffset;
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        return result;
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        return result;
    }
    const int64_t start = std::max<int64_t>(fromOffset, 0);
    if (start >= st.st_size) {
        return result; // nothing new, or the file shrank below the offset
    }

    // Read one chunk; when it holds no line feed and the file goes on, the single line is
    // longer than a chunk: keep reading until its end.
    std::string buffer;
    size_t lastFeed = std::string::npos;
    bool atEnd = false;
    while (lastFeed == std::string::npos && !atEnd) {
        const size_t before = buffer.size();
        const auto remaining =
            static_cast<size_t>(std::max<int64_t>(st.st_size - start - static_cast<int64_t>(before), 0));
        // One byte past the known size tells "the end" from "a full chunk".
        const size_t want = std::min(chunkBytes, remaining + 1);
        buffer.resize(before + want);
        const ssize_t n =
            readAt(fd.get(), buffer.data() + before, want, start + static_cast<int64_t>(before));
        if (n < 0) {
            return result;
        }
        buffer.resize(before + static_cast<size_t>(n));
        atEnd = static_cast<size_t>(n) < want;
        const size_t feed = std::string_view(buffer).substr(before).rfind('\n');
        if (feed != std::string::npos) {
            lastFeed = before + feed;
        }
    }
    if (lastFeed == std::string::npos) {
        return result; // only a partial line so far
    }
    result.more = !atEnd;

    const std::string_view complete(buffer.data(), lastFeed + 1);
    size_t pos = 0;
    while (pos < complete.size()) {
        const size_t end = complete.find('\n', pos);
        const std::string_view line = complete.substr(pos, end - pos);
        pos = end + 1;
        if (line.empty()) {
            continue;
        }
        // The parser rejects bytes that are not UTF-8, so such a line is dropped alone.
        if (auto entry = JSONLParser::parse(line)) {
            result.entries.push_back(std::move(*entry));
        }
    }
    result.newOffset = start + static_cast<int64_t>(complete.size());
    return result;
}

} // namespace perchwell
