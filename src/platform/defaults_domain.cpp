#include "platform/defaults_domain.h"

#include "common/app_logger.h"
#include "common/file_util.h"
#include "common/unique_fd.h"
#include "platform/paths.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <set>
#include <sys/file.h>
#include <thread>

namespace perchwell {
namespace {

using namespace std::chrono_literals;

// Writers hold the lock for one read and one small write; a holder that takes longer
// than this is stuck, and the caller gets an error instead of a frozen thread.
constexpr auto lockPatience = 5s;
// A file that does not parse may be an in-place edit caught half way: look once more
// before calling it corrupt.
constexpr auto secondLook = 50ms;

const AppLogger& logger() {
    static const AppLogger log("defaults");
    return log;
}

// What the file holds right now.
struct FileContent {
    enum class Kind { object, unreadable, unparsable };
    Kind kind = Kind::object;
    nlohmann::json values = nlohmann::json::object(); // empty for a missing or blank file
    std::string problem;
};

FileContent readContent(const std::string& path) {
    UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.valid()) {
        if (errno == ENOENT) {
            return {};
        }
        return {FileContent::Kind::unreadable, {}, files::errnoText(errno)};
    }
    const auto text = files::readAll(fd.get());
    if (!text) {
        return {FileContent::Kind::unreadable, {}, files::errnoText(errno)};
    }
    if (text->find_first_not_of(" \t\r\n") == std::string::npos) {
        return {};
    }
    try {
        auto parsed = nlohmann::json::parse(*text);
        if (!parsed.is_object()) {
            return {FileContent::Kind::unparsable, {}, "not a JSON object"};
        }
        return {FileContent::Kind::object, std::move(parsed), {}};
    } catch (const nlohmann::json::parse_error& e) {
        return {FileContent::Kind::unparsable, {}, e.what()};
    }
}

// The advisory lock beside the file, held until the descriptor closes. Hand edits do
// not take it; the atomic replace keeps them whole all the same.
Result<UniqueFd> lockBeside(const std::string& lockPath) {
    UniqueFd fd(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.valid()) {
        return Error{"cannot open " + lockPath + ": " + files::errnoText(errno)};
    }
    const auto deadline = std::chrono::steady_clock::now() + lockPatience;
    while (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) {
        if (errno == EINTR) {
            continue;
        }
        if (errno != EWOULDBLOCK) {
            return Error{"cannot lock " + lockPath + ": " + files::errnoText(errno)};
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            return Error{"another writer has held " + lockPath + " too long"};
        }
        std::this_thread::sleep_for(1ms);
    }
    return fd;
}

std::optional<bool> readBool(const nlohmann::json& value) {
    if (value.is_boolean()) {
        return value.get<bool>();
    }
    if (value.is_number()) {
        const double number = value.get<double>();
        if (number == 1.0 || number == 0.0) {
            return number == 1.0;
        }
        return std::nullopt;
    }
    if (value.is_string()) {
        std::string text = value.get<std::string>();
        std::transform(text.begin(), text.end(), text.begin(),
                       [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
        if (text == "true" || text == "yes" || text == "1") {
            return true;
        }
        if (text == "false" || text == "no" || text == "0") {
            return false;
        }
    }
    return std::nullopt;
}

// Once per key per process: the hook process reads the domain for every event, and the
// application re-reads it after every change.
void reportNotBoolean(std::string_view key, const nlohmann::json& stored, bool fallback) {
    static std::mutex mutex;
    static std::set<std::string, std::less<>> reported;
    {
        std::lock_guard lock(mutex);
        if (!reported.emplace(key).second) {
            return;
        }
    }
    logger().warning(std::string(key) + " = " +
                     stored.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) +
                     " is not a boolean; using " + (fallback ? "true" : "false") + " instead");
}

} // namespace

DefaultsDomain::DefaultsDomain(std::string path) : path_(std::move(path)) {
    // Quiet here: the hook process comes through this once per event.
    if (FileContent content = readContent(path_); content.kind == FileContent::Kind::object) {
        stored_ = std::move(content.values);
    }
}

DefaultsDomain DefaultsDomain::standard() {
    return DefaultsDomain(Paths::defaultsFile());
}

void DefaultsDomain::registerDefaults(const nlohmann::json& values) {
    if (!values.is_object()) {
        return;
    }
    std::lock_guard lock(mutex_);
    for (const auto& [key, value] : values.items()) {
        registered_[key] = value;
    }
}

std::optional<nlohmann::json> DefaultsDomain::lookupLocked(std::string_view key) const {
    const std::string k(key);
    if (auto it = stored_.find(k); it != stored_.end()) {
        return *it;
    }
    if (auto it = registered_.find(k); it != registered_.end()) {
        return *it;
    }
    return std::nullopt;
}

std::optional<nlohmann::json> DefaultsDomain::objectForKey(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return lookupLocked(key);
}

bool DefaultsDomain::hasStoredValue(std::string_view key) const {
    std::lock_guard lock(mutex_);
    return stored_.contains(std::string(key));
}

bool DefaultsDomain::boolForKey(std::string_view key) const {
    std::optional<nlohmann::json> stored;
    std::optional<nlohmann::json> registered;
    {
        std::lock_guard lock(mutex_);
        const std::string k(key);
        if (auto it = stored_.find(k); it != stored_.end()) {
            stored = *it;
        }
        if (auto it = registered_.find(k); it != registered_.end()) {
            registered = *it;
        }
    }
    const bool fallback = registered ? readBool(*registered).value_or(false) : false;
    if (!stored) {
        return fallback;
    }
    if (const auto value = readBool(*stored)) {
        return *value;
    }
    reportNotBoolean(key, *stored, fallback);
    return fallback;
}

int64_t DefaultsDomain::integerForKey(std::string_view key) const {
    const auto v = objectForKey(key);
    if (!v) {
        return 0;
    }
    if (v->is_number_integer()) {
        return v->get<int64_t>();
    }
    if (v->is_number_float()) {
        return static_cast<int64_t>(v->get<double>());
    }
    if (v->is_boolean()) {
        return v->get<bool>() ? 1 : 0;
    }
    return 0;
}

double DefaultsDomain::doubleForKey(std::string_view key) const {
    const auto v = objectForKey(key);
    if (!v) {
        return 0.0;
    }
    if (v->is_number()) {
        return v->get<double>();
    }
    if (v->is_boolean()) {
        return v->get<bool>() ? 1.0 : 0.0;
    }
    return 0.0;
}

std::optional<std::string> DefaultsDomain::stringForKey(std::string_view key) const {
    const auto v = objectForKey(key);
    if (!v || !v->is_string()) {
        return std::nullopt;
    }
    return v->get<std::string>();
}

Result<void> DefaultsDomain::set(std::string_view key, nlohmann::json value) {
    const std::string k(key);
    {
        std::lock_guard lock(mutex_);
        stored_[k] = value;
    }
    if (auto dir = files::ensureDirectory(files::parentDirectory(path_), 0700); !dir) {
        return dir;
    }
    auto held = lockBeside(lockPath());
    if (!held) {
        return held.error();
    }
    FileContent current = readContent(path_);
    if (current.kind == FileContent::Kind::unparsable) {
        std::this_thread::sleep_for(secondLook);
        current = readContent(path_);
    }
    switch (current.kind) {
    case FileContent::Kind::object:
        break;
    case FileContent::Kind::unreadable:
        // What cannot be read cannot be kept: leave it for the user rather than replace it.
        return Error{"cannot read " + path_ + ": " + current.problem};
    case FileContent::Kind::unparsable:
        if (std::rename(path_.c_str(), corruptPath().c_str()) != 0) {
            return Error{"cannot move the unparsable " + path_ + " aside: " + files::errnoText(errno)};
        }
        logger().error(path_ + " does not parse (" + current.problem + "); kept as " + corruptPath() +
                       ", writing a fresh one from the settings last read");
        {
            std::lock_guard lock(mutex_);
            current.values = stored_;
        }
        break;
    }
    current.values[k] = std::move(value);
    const std::string text =
        current.values.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    if (auto written = files::writeFileAtomically(path_, text, 0600); !written) {
        return written;
    }
    // Still under the file lock, so a later writer's values never give way to ours.
    std::lock_guard lock(mutex_);
    stored_ = std::move(current.values);
    return {};
}

void DefaultsDomain::reload() {
    FileContent fresh = readContent(path_);
    if (fresh.kind != FileContent::Kind::object) {
        logger().warning("cannot use " + path_ + " (" + fresh.problem + "); keeping the settings last read");
        return;
    }
    std::lock_guard lock(mutex_);
    stored_ = std::move(fresh.values);
}

} // namespace perchwell
