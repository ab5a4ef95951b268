#include "common/file_util.h"

#include "common/unique_fd.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace perchwell::files {

std::string errnoText(int err) {
    return std::strerror(err);
}

std::string parentDirectory(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

Result<void> ensureDirectory(const std::string& path, mode_t mode) {
    if (path.empty()) {
        return Error{"empty directory path"};
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) {
            return {};
        }
        return Error{path + " exists and is not a directory"};
    }
    const std::string parent = parentDirectory(path);
    if (parent != path && parent != "/" && parent != ".") {
        if (auto r = ensureDirectory(parent, 0755); !r) {
            return r;
        }
    }
    if (::mkdir(path.c_str(), mode) != 0 && errno != EEXIST) {
        return Error{"cannot create " + path + ": " + errnoText(errno)};
    }
    return {};
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

std::optional<std::string> readAll(int fd, size_t limit) {
    std::string data;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n == 0) {
            return data;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return std::nullopt;
        }
        data.append(chunk, static_cast<size_t>(n));
        if (data.size() > limit) {
            return std::nullopt;
        }
    }
}

std::optional<std::string> readFile(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd.get() < 0) {
        return std::nullopt;
    }
    return readAll(fd.get());
}

Result<void> writeFileAtomically(const std::string& path, std::string_view bytes, mode_t mode) {
    std::string tmpl = path + ".tmp.XXXXXX";
    std::vector<char> name(tmpl.begin(), tmpl.end());
    name.push_back('\0');
    UniqueFd fd(::mkostemp(name.data(), O_CLOEXEC));
    if (fd.get() < 0) {
        return Error{"cannot create temporary file for " + path + ": " + errnoText(errno)};
    }
    const std::string tmp(name.data());
    const bool written =
        ::fchmod(fd.get(), mode) == 0 && writeAll(fd.get(), bytes) && ::fdatasync(fd.get()) == 0;
    const int err = errno;
    if (!written || ::close(fd.release()) != 0) {
        ::unlink(tmp.c_str());
        return Error{"cannot write " + path + ": " + errnoText(written ? errno : err)};
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        const int renameErr = errno;
        ::unlink(tmp.c_str());
        return Error{"cannot replace " + path + ": " + errnoText(renameErr)};
    }
    return {};
}

Result<void> appendToFile(const std::string& path, std::string_view bytes, mode_t mode) {
    UniqueFd fd(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, mode));
    if (fd.get() < 0) {
        return Error{errnoText(errno)};
    }
    // One write keeps the line whole; O_APPEND makes the seek and write one step.
    const ssize_t n = ::write(fd.get(), bytes.data(), bytes.size());
    if (n < 0) {
        return Error{errnoText(errno)};
    }
    if (static_cast<size_t>(n) != bytes.size()) {
        return Error{"short write (" + std::to_string(n) + " of " + std::to_string(bytes.size()) + " bytes)"};
    }
    return {};
}

} // namespace perchwell::files
