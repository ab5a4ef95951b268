#include "common/unix_socket.h"

#include <cerrno>
#include <cstring>
#include <sys/socket.h>

namespace perchwell {

std::optional<sockaddr_un> unixSocketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() + 1 > sizeof(address.sun_path)) {
        return std::nullopt;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

UniqueFd connectUnixSocket(const std::string& path, int flags) {
    const auto address = unixSocketAddress(path);
    if (!address) {
        errno = ENAMETOOLONG;
        return {};
    }
    UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | flags, 0));
    if (fd.valid() &&
        ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) != 0) {
        const int err = errno;
        fd.reset();
        errno = err;
    }
    return fd;
}

} // namespace perchwell
