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

void WorkflowReader::Buffer::reserve(size_t size, size_t keep) {
    if (size <= capacity_) {
        return;
    }
    // Uninitialised on purpose: every byte used is first read from the file.
    std::unique_ptr<char[]> grown(new char[size]);
    if (keep > 0) {
        std::memcpy(grown.get(), data_.get(), keep);
    }
    data_ = std::move(grown);
    capacity_ = size;
}

void WorkflowReader::Buffer::trim(size_t used) {
    constexpr size_t kKeep = size_t{1} << 20;
    if (capacity_ > kKeep && used <= kKeep) {
        data_.reset();
        capacity_ = 0;
    }
}

WorkflowReader::TailResult WorkflowReader::tailFile(const std::string& path, int64_t fromOffset) {
    return executor_.run([&] { return readChunk(path, fromOffset, chunkBytes_, buffer_); }).get();
}

WorkflowReader::TailResult WorkflowReader::readChunk(const std::string& path, int64_t fromOffset,
                                                     size_t chunkBytes) {
    Buffer buffer;
    return readChunk(path, fromOffset, chunkBytes, buffer);
}

WorkflowReader::TailResult WorkflowReader::readChunk(const std::string& path, int64_t fromOffset,
                                                     size_t chunkBytes, Buffer& buffer) {
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
    size_t size = 0;
    size_t lastFeed = std::string::npos;
    bool atEnd = false;
    while (lastFeed == std::string::npos && !atEnd) {
        const auto remaining =
            static_cast<size_t>(std::max<int64_t>(st.st_size - start - static_cast<int64_t>(size), 0));
        // One byte past the known size tells "the end" from "a full chunk".
        const size_t want = std::min(chunkBytes, remaining + 1);
        buffer.reserve(size + want, size);
        const ssize_t n = readAt(fd.get(), buffer.data() + size, want, start + static_cast<int64_t>(size));
        if (n < 0) {
            return result;
        }
        atEnd = static_cast<size_t>(n) < want;
        const auto* feed =
            static_cast<const char*>(::memrchr(buffer.data() + size, '\n', static_cast<size_t>(n)));
        size += static_cast<size_t>(n);
        if (feed != nullptr) {
            lastFeed = static_cast<size_t>(feed - buffer.data());
        }
    }
    if (lastFeed == std::string::npos) {
        buffer.trim(size);
        return result; // only a partial line so far
    }
    result.more = !atEnd;

    const std::string_view complete(buffer.data(), lastFeed + 1);
    result.entries.reserve(complete.size() / 1024); // a rough count of lines
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
    buffer.trim(size);
    return result;
}

} // namespace perchwell
