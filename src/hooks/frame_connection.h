#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace perchwell {

// Writes on one non-blocking stream socket, bounded by a deadline, for the hook
// socket's frames: a 4-byte big-endian length and that many bytes. Writes never raise
// SIGPIPE. Does not own the descriptor.
class FrameConnection {
public:
    using Clock = std::chrono::steady_clock;

    FrameConnection(int fd, Clock::time_point deadline) : fd_(fd), deadline_(deadline) {}

    // The 4-byte length followed by `payload`, sent as one buffer.
    bool writeFrame(const std::string& payload);

private:
    bool writeAll(const char* data, size_t count);
    bool waitWritable();

    int fd_;
    Clock::time_point deadline_;
};

} // namespace perchwell
