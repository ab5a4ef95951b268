#include "platform/defaults_domain.h"

#include "common/file_util.h"
#include "platform/paths.h"

namespace perchwell {
namespace {

nlohmann::json loadObject(const std::string& path) {
    const auto text = files::readFile(path);
    if (!text) {
        return nlohmann::json::object();
    }
    auto parsed = nlohmann::json::parse(*text, nullptr, /*allow_exceptions=*/false);
    return parsed.is_object() ? parsed : nlohmann::json::object();
}

} // namespace

DefaultsDomain::DefaultsDomain(std::string path) : path_(std::move(path)), stored_(loadObject(path_)) {}

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
    const auto v = objectForKey(key);
    if (!v) {
        return false;
    }
    if (v->is_boolean()) {
        return v->get<bool>();
    }
    if (v->is_number()) {
        return v->get<double>() != 0.0;
    }
    return false;
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
    std::lock_guard lock(mutex_);
    stored_[std::string(key)] = std::move(value);
    const std::string text = stored_.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    // Written under the lock so two setters never replace the file out of order.
    if (auto dir = files::ensureDirectory(files::parentDirectory(path_), 0700); !dir) {
        return dir;
    }
    return files::writeFileAtomically(path_, text, 0600);
}

void DefaultsDomain::reload() {
    auto fresh = loadObject(path_);
    std::lock_guard lock(mutex_);
    stored_ = std::move(fresh);
}

} // namespace perchwell
