// Apart from the rest of HookCommand, so the hook client can read its input the same
// way without linking the decision code.
#include "hooks/hook_command.h"

#include <cerrno>
#include <unistd.h>

namespace perchwell {

std::optional<std::string> HookCommand::readStdin(int fd) {
    std::string data;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        if (data.empty() && static_cast<size_t>(n) == sizeof chunk) {
            // More is coming: room for the largest input at once, since growing step by
            // step would copy a megabyte input several times into fresh memory. Pages
            // never written cost nothing; a small event never gets here.
            data.reserve(maxInputBytes + sizeof chunk);
        }
        data.append(chunk, static_cast<size_t>(n));
        if (data.size() > maxInputBytes) {
            break;
        }
    }
    if (data.empty()) {
        return std::nullopt;
    }
    return data;
}

} // namespace perchwell
