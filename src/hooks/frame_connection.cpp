#include "hooks/frame_connection.h"

#include <arpa/inet.h>
#include <cerrno>
#include <poll.h>
#include <sys/socket.h>

namespace perchwell {

bool FrameConnection::waitWritable() {
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline_ - Clock::now()).count();
        pollfd p{fd_, POLLOUT, 0};
        const int n = ::poll(&p, 1, left > 0 ? static_cast<int>(left) : 0);
        if (n > 0) {
            return true;
        }
        if (n == 0 || errno != EINTR) {
            return false;
        }
    }
}

bool FrameConnection::writeAll(const char* data, size_t count) {
    size_t done = 0;
    while (done < count) {
        if (!waitWritable()) {
            return false;
        }
        // MSG_NOSIGNAL: a vanished peer is an error return, never a SIGPIPE.
        const ssize_t n = ::send(fd_, data + done, count - done, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) {
            done += static_cast<size_t>(n);
        } else if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
            return false;
        }
    }
    return true;
}

bool FrameConnection::writeFrame(const std::string& payload) {
    // One buffer, so a short frame goes out in one write: all of it or none.
    const uint32_t network = htonl(static_cast<uint32_t>(payload.size()));
    std::string frame(reinterpret_cast<const char*>(&network), sizeof(network));
    frame.append(payload);
    return writeAll(frame.data(), frame.size());
}

} // namespace perchwell
