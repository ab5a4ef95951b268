// Apart from the rest of HookCommand, so the hook client can read its input the same
// way without linking the decision code.
#include "hooks/hook_command.h"

#include <cerrno>
#include <unistd.h>

namespace perchwell {

std::optional<std::string> HookCommand::readStdin(int fd) {
    constexpr size_t chunk = 65536;
    std::string data;
    size_t size = 0;
    for (;;) {
        // Straight into the buffer: a megabyte of input is copied once less.
        data.resize(size + chunk);
        const ssize_t n = ::read(fd, data.data() + size, chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        size += static_cast<size_t>(n);
        if (size > maxInputBytes) {
            break;
        }
    }
    data.resize(size);
    if (data.empty()) {
        return std::nullopt;
    }
    return data;
}

} // namespace perchwell
