#pragma once

#include "common/unique_fd.h"

#include <optional>
#include <string>
#include <sys/un.h>

namespace perchwell {

// The address of the Unix-domain socket at `path`; nothing when the path (with its
// terminating NUL) does not fit the address.
std::optional<sockaddr_un> unixSocketAddress(const std::string& path);

// A stream socket connected to `path`; `flags` adds socket type flags (SOCK_NONBLOCK).
// Invalid on failure, with errno telling why.
UniqueFd connectUnixSocket(const std::string& path, int flags = 0);

} // namespace perchwell
