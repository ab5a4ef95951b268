#pragma once

#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace perchwell {

// One "user" line of a transcript (prompts, tool results and command output alike).
// `timestamp` is seconds since the Unix epoch.
struct UserEntry {
    std::string uuid;
    std::optional<std::string> promptId;
    std::string sessionId;
    double timestamp = 0;
    std::optional<std::string> cwd;
    std::optional<std::string> gitBranch;
    std::string content;
    std::optional<std::string> permissionMode;
    std::optional<std::string> parentUuid;

    bool operator==(const UserEntry&) const = default;
};

// One "assistant" line: its text blocks joined, and the names of its tool uses in order.
struct AssistantEntry {
    std::string uuid;
    std::string sessionId;
    double timestamp = 0;
    std::optional<std::string> cwd;
    std::optional<std::string> gitBranch;
    std::string textContent;
    std::vector<std::string> toolUses;
    std::optional<std::string> parentUuid;

    bool operator==(const AssistantEntry&) const = default;
};

// Any other kind of line, known only by its "type" (summary, system, ...).
struct OtherEntry {
    std::string type;

    bool operator==(const OtherEntry&) const = default;
};

// The record of one transcript line: user(UserEntry), assistant(AssistantEntry) or other(type).
using JSONLEntry = std::variant<UserEntry, AssistantEntry, OtherEntry>;

} // namespace perchwell
