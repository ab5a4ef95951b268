#pragma once

#include "common/result.h"
#include "common/unique_fd.h"

#include <string>

namespace perchwell {

// One application instance per user: an exclusive advisory lock on a file in the data
// directory, held for the life of the process and released by the kernel when it
// ends, so a crashed instance never leaves a stale lock behind.
class InstanceLock {
public:
    // The lock file, "perchwell.lock" in the data directory.
    static std::string defaultPath();

    // Takes the lock without waiting; fails with a readable message when another
    // process holds it or the file cannot be opened.
    static Result<InstanceLock> acquire(const std::string& path = defaultPath());

    // Whether `error` from acquire() means another process holds the lock (rather
    // than that the lock file could not be used at all).
    static bool heldElsewhere(const Error& error);

    const std::string& path() const { return path_; }

private:
    InstanceLock(UniqueFd fd, std::string path) : fd_(std::move(fd)), path_(std::move(path)) {}

    UniqueFd fd_;
    std::string path_;
};

} // namespace perchwell
