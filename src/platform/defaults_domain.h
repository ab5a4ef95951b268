#pragma once

#include "common/result.h"

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// The settings domain shared by the application and the hook process: one flat JSON
// object of key -> value in the config directory. Registered defaults are fallbacks
// kept in memory only; every set replaces the file atomically. Safe to use from
// several threads.
class DefaultsDomain {
public:
    // Loads `path`; a missing or unreadable file is an empty domain.
    explicit DefaultsDomain(std::string path);
    // The domain at the standard location (Paths::defaultsFile()).
    static DefaultsDomain standard();

    const std::string& path() const { return path_; }

    // `values` must be an object; its members become fallbacks for absent keys.
    void registerDefaults(const nlohmann::json& values);

    // Typed getters: the stored value, else the registered default, else nothing; a
    // value of another type gives the type's zero value.
    bool boolForKey(std::string_view key) const;
    int64_t integerForKey(std::string_view key) const;
    double doubleForKey(std::string_view key) const;
    std::optional<std::string> stringForKey(std::string_view key) const;
    std::optional<nlohmann::json> objectForKey(std::string_view key) const;
    bool hasStoredValue(std::string_view key) const;

    // Stores the value in memory and writes the whole domain through. On a write
    // failure the in-memory value stands and the error is returned.
    Result<void> set(std::string_view key, nlohmann::json value);

    // Re-reads the file, dropping in-memory values that were never written.
    void reload();

private:
    std::optional<nlohmann::json> lookupLocked(std::string_view key) const;

    std::string path_;
    mutable std::mutex mutex_;
    nlohmann::json stored_ = nlohmann::json::object();
    nlohmann::json registered_ = nlohmann::json::object();
};

} // namespace perchwell
