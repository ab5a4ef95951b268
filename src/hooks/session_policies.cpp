#include "common/file_util.h"
#include "hooks/hook_command.h"
#include "hooks/in_situ_json.h"
#include "platform/paths.h"

#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

// Accepts one flat object whose values are all strings; anything else stops the parse.
class PolicyFileReader final : public InSituJsonHandler<PolicyFileReader> {
public:
    explicit PolicyFileReader(std::map<std::string, std::string>& members) : members_(members) {}

    bool StartObject() {
        open();
        return depth() == 1;
    }
    bool EndObject(SizeType) {
        close();
        return true;
    }
    bool Key(const char* text, SizeType length, bool) {
        key_ = std::string_view(text, length);
        return InSituJson::decodedStringValid(key_);
    }
    bool String(const char* text, SizeType length, bool) {
        const std::string_view value(text, length);
        if (depth() != 1 || !InSituJson::decodedStringValid(value)) {
            return false;
        }
        // A repeated session id: the last one counts.
        members_[std::string(key_)] = std::string(value);
        return true;
    }
    bool RawNumber(const char*, SizeType, bool) { return false; }
    bool Default() { return false; }

private:
    std::map<std::string, std::string>& members_;
    std::string_view key_;
};

// The file must be one JSON object whose every value is a string; anything else
// counts as no policies at all.
std::optional<std::map<std::string, std::string>> readPolicyFile() {
    auto text = files::readFile(HookCommand::sessionPoliciesPath());
    if (!text) {
        return std::nullopt;
    }
    std::map<std::string, std::string> members;
    PolicyFileReader reader(members);
    if (InSituJson(*text).parse(reader) != InSituJson::Outcome::parsed) {
        return std::nullopt;
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
