#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace perchwell {

// Blocking-style reads and writes on one stream socket, all bounded by a single
// deadline, for the hook socket's frames: a 4-byte big-endian length and that many
// bytes. Writes never raise SIGPIPE. Does not own the descriptor.
class FrameConnection {
public:
    using Clock = std::chrono::steady_clock;

    FrameConnection(int fd, Clock::time_point deadline) : fd_(fd), deadline_(deadline) {}

    // Exactly `count` bytes; the peer closing first, an error or the deadline fails.
    bool readExact(char* buffer, size_t count);
    bool readU32BE(uint32_t& value);
    bool writeAll(const char* data, size_t count);
    bool writeU32BE(uint32_t value);
    // The 4-byte length followed by `payload`, sent as one buffer.
    bool writeFrame(const std::string& payload);

private:
    bool waitReady(short events);

    int fd_;
    Clock::time_point deadline_;
};

} // namespace perchwell
