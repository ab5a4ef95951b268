#include "app/instance_lock.h"

#include "common/file_util.h"
#include "platform/paths.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/file.h>

namespace perchwell {
namespace {

constexpr std::string_view heldPrefix = "another instance is already running";

} // namespace

bool InstanceLock::heldElsewhere(const Error& error) {
    return error.message.rfind(heldPrefix, 0) == 0;
}

std::string InstanceLock::defaultPath() {
    return Paths::dataFile("perchwell.lock");
}

Result<InstanceLock> InstanceLock::acquire(const std::string& path) {
    if (auto made = files::ensureDirectory(files::parentDirectory(path), Paths::dataDirectoryMode); !made) {
        return Error{"cannot create " + files::parentDirectory(path) + ": " + made.error().message};
    }
    // Close-on-exec, so helper processes we start never inherit (and keep) the lock.
    UniqueFd fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return Error{"cannot open " + path + ": " + files::errnoText(errno)};
    }
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno == EWOULDBLOCK) {
            return Error{std::string(heldPrefix) + " (lock held: " + path + ")"};
        }
        return Error{"cannot lock " + path + ": " + files::errnoText(errno)};
    }
    // The holder's process id, for whoever wonders which process that is.
    const std::string pid = std::to_string(::getpid()) + "\n";
    if (::ftruncate(fd.get(), 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd.get(), pid.data(), pid.size(), 0);
    }
    return InstanceLock(std::move(fd), path);
}

} // namespace perchwell
