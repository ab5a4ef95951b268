#pragma once

#include "hooks/review_policy_level.h"
#include "workflow/session_card.h"

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// GET /api/state and the pv_get_state tool.
struct MCPStateResponse {
    bool enabled = true;
    bool mascotEnabled = true;
    bool safePromptOnly = true;
    int64_t mcpPort = 7392; // the stored setting, not the clamped listening port

    nlohmann::json toJSON() const;
    bool operator==(const MCPStateResponse&) const = default;
};

struct MCPControlRequest {
    enum class Action { pause, resume, wave, hide, show };

    Action action = Action::pause;

    // A JSON object whose "action" is one of the five raw names, exactly; other members
    // are ignored. Anything else is nothing.
    static std::optional<MCPControlRequest> decode(const std::optional<std::string>& body);
};

std::string_view toString(MCPControlRequest::Action action);
std::optional<MCPControlRequest::Action> controlActionFromString(std::string_view raw);

// What one control action did.
struct ControlOutcome {
    bool ok = true;
    std::optional<std::string> message;
};

struct MCPControlResponse {
    bool ok = true;
    std::string state; // "running" or "paused"
    std::optional<std::string> message;

    nlohmann::json toJSON() const;
};

struct SessionPolicyRequest {
    std::string sessionId;
    ReviewPolicyLevel level = ReviewPolicyLevel::global;

    // Both members must be strings and the level one of the four lower-case raw names.
    static std::optional<SessionPolicyRequest> decode(const std::optional<std::string>& body);
};

// One item of GET /api/sessions; absent instants and branch leave their member out.
nlohmann::json sessionItemJSON(const SessionCard& card);

// "2026-12-06T20:41:05Z": UTC, whole seconds (fractions truncated toward the past).
std::string iso8601(double secondsSinceEpoch);

// Parses a request body as JSON; nothing for an absent body or text that is not JSON.
std::optional<nlohmann::json> parseJSONBody(const std::optional<std::string>& body);

} // namespace perchwell
