#pragma once

#include "hooks/review_policy_level.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// Where a session runs.
enum class SessionSource { cli, vscode, desktop, codex, unknown };
std::string_view toString(SessionSource source);
std::optional<SessionSource> sessionSourceFromString(std::string_view raw);

// How recently a session was active: under 5 minutes, under an hour, or older.
enum class SessionStatus { active, idle, done };
std::string_view toString(SessionStatus status);
std::optional<SessionStatus> sessionStatusFromString(std::string_view raw);

// One row of the session list. Instants are seconds since the Unix epoch.
struct SessionCard {
    std::string sessionId;
    std::string projectId;
    std::string projectName;
    std::string cwd;
    SessionSource source = SessionSource::cli;
    SessionStatus status = SessionStatus::done;
    ReviewPolicyLevel policy = ReviewPolicyLevel::global;
    int64_t promptCount = 0;
    int64_t turnCount = 0;
    std::optional<double> firstActivity;
    std::optional<double> lastActivity;
    std::optional<std::string> gitBranch;

    bool operator==(const SessionCard&) const = default;
};

} // namespace perchwell
