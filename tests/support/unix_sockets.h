#pragma once

#include "common/unix_socket.h"

#include <filesystem>
#include <string>
#include <sys/socket.h>
#include <sys/time.h>

namespace perchwell::testing {

// A connected descriptor that gives up reading after 5 s, or -1.
inline int connectTo(const std::string& path) {
    const int fd = connectUnixSocket(path).release();
    if (fd >= 0) {
        const timeval patience{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    }
    return fd;
}

// What a crashed earlier run leaves behind: a socket file nobody listens on. Whether it
// was made.
inline bool leaveStaleSocket(const std::string& path) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    const auto address = unixSocketAddress(path);
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM, 0));
    return address && ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) == 0;
}

} // namespace perchwell::testing
