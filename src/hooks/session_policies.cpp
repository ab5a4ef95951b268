#include "common/file_util.h"
#include "hooks/hook_command.h"
#include "platform/paths.h"

#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

// The file must be one JSON object whose every value is a string; anything else
// counts as no policies at all.
std::optional<std::map<std::string, std::string>> readPolicyFile() {
    auto text = files::readFile(HookCommand::sessionPoliciesPath());
    if (!text) {
        return std::nullopt;
    }
    simdjson::dom::parser parser;
    simdjson::dom::object object;
    if (parser.parse(*text).get_object().get(object) != simdjson::SUCCESS) {
        return std::nullopt;
    }
    std::map<std::string, std::string> members;
    for (simdjson::dom::key_value_pair field : object) {
        std::string_view value;
        if (field.value.get_string().get(value) != simdjson::SUCCESS) {
            return std::nullopt;
        }
        members[std::string(field.key)] = std::string(value);
    }
    return members;
}

} // namespace

std::string HookCommand::sessionPoliciesPath() {
    return Paths::dataFile("session-policies.json");
}

std::map<std::string, ReviewPolicyLevel> HookCommand::loadAllSessionPolicies() {
    std::map<std::string, ReviewPolicyLevel> policies;
    const auto members = readPolicyFile();
    if (!members) {
        return policies;
    }
    for (const auto& [sessionId, raw] : *members) {
        if (auto level = reviewPolicyLevelFromString(raw)) {
            policies[sessionId] = *level;
        }
    }
    return policies;
}

void HookCommand::saveSessionPolicies(const std::map<std::string, ReviewPolicyLevel>& policies) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [sessionId, level] : policies) {
        if (level != ReviewPolicyLevel::global) {
            object[sessionId] = std::string(toString(level));
        }
    }
    (void)Paths::ensureDataDirectory();
    try {
        (void)files::writeFileAtomically(sessionPoliciesPath(), object.dump(), 0600);
    } catch (const nlohmann::json::exception&) {
        // A session id that is not UTF-8 cannot be encoded; the old file stays.
    }
}

void HookCommand::updateSessionPolicy(const std::string& sessionId, ReviewPolicyLevel level) {
    auto policies = loadAllSessionPolicies();
    if (level == ReviewPolicyLevel::global) {
        policies.erase(sessionId);
    } else {
        policies[sessionId] = level;
    }
    saveSessionPolicies(policies);
}

ReviewPolicyLevel HookCommand::sessionPolicy(const std::optional<std::string>& sessionId) {
    if (!sessionId) {
        return ReviewPolicyLevel::global;
    }
    const auto members = readPolicyFile();
    if (!members) {
        return ReviewPolicyLevel::global;
    }
    const auto it = members->find(*sessionId);
    if (it == members->end()) {
        return ReviewPolicyLevel::global;
    }
    return reviewPolicyLevelFromString(it->second).value_or(ReviewPolicyLevel::global);
}

} // namespace perchwell
