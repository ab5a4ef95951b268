#pragma once

#include "common/result.h"

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// The settings domain shared by the application, the hook process and whoever edits the
// file by hand: one flat JSON object of key -> value in the config directory. Reading
// takes no lock (the file is only ever replaced whole); every set re-reads the file
// under an advisory lock beside it and changes just its one key, so keys written by
// others meanwhile survive. Registered defaults are fallbacks kept in memory only. Safe
// to use from several threads.
class DefaultsDomain {
public:
    // Loads `path`; a missing, unreadable or unparsable file is an empty domain.
    explicit DefaultsDomain(std::string path);
    // The domain at the standard location (Paths::defaultsFile()).
    static DefaultsDomain standard();

    const std::string& path() const { return path_; }
    // Held by every setter while it re-reads and replaces the file.
    std::string lockPath() const { return path_ + ".lock"; }
    // Where a file that does not parse is kept before a setter writes a fresh one.
    std::string corruptPath() const { return path_ + ".corrupt"; }

    // `values` must be an object; its members become fallbacks for absent keys.
    void registerDefaults(const nlohmann::json& values);

    // Reads true/false, the numbers 1/0 and the strings "true"/"false", "yes"/"no",
    // "1"/"0" in any case. Any other stored value reads as the registered default (false
    // without one) and is logged once per key per process.
    bool boolForKey(std::string_view key) const;
    // Typed getters: the stored value, else the registered default, else nothing; a
    // value of another type gives the type's zero value.
    int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<nlohmann::json> objectForKey(std::string_view key) const;
    bool hasStoredValue(std::string_view key) const;

    // Under the lock: re-reads the file, changes this one key, replaces the file
    // atomically, and takes what was written as the domain's values. A file that does
    // not parse is first moved to corruptPath() (and logged); the fresh file then holds
    // the values last read plus this key. On a failure the in-memory value stands and
    // the error is returned.
    Result<void> set(std::string_view key, nlohmann::json value);

    // Re-reads the file, dropping in-memory values that were never written. A missing
    // file is an empty domain; a file that cannot be read or does not parse (perhaps
    // half way through an in-place edit) leaves the values last read in place.
    void reload();

private:
    std::optional<nlohmann::json> lookupLocked(std::string_view key) const;

    std::string path_;
    mutable std::mutex mutex_;
    nlohmann::json stored_ = nlohmann::json::object();
    nlohmann::json registered_ = nlohmann::json::object();
};

} // namespace perchwell
