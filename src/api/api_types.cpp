#include "api/api_types.h"

#include <array>
#include <cmath>
#include <ctime>

namespace perchwell {
namespace {

constexpr std::array<std::pair<MCPControlRequest::Action, std::string_view>, 5> actionNames = {{
    {MCPControlRequest::Action::pause, "pause"},
    {MCPControlRequest::Action::resume, "resume"},
    {MCPControlRequest::Action::wave, "wave"},
    {MCPControlRequest::Action::hide, "hide"},
    {MCPControlRequest::Action::show, "show"},
}};

} // namespace

std::optional<nlohmann::json> parseJSONBody(const std::optional<std::string>& body) {
    if (!body) {
        return std::nullopt;
    }
    auto value = nlohmann::json::parse(*body, nullptr, false);
    if (value.is_discarded()) {
        return std::nullopt;
    }
    return value;
}

nlohmann::json MCPStateResponse::toJSON() const {
    return {{"enabled", enabled},
            {"mascotEnabled", mascotEnabled},
            {"safePromptOnly", safePromptOnly},
            {"mcpPort", mcpPort}};
}

std::string_view toString(MCPControlRequest::Action action) {
    for (const auto& [candidate, name] : actionNames) {
        if (candidate == action) {
            return name;
        }
    }
    return "pause";
}

std::optional<MCPControlRequest::Action> controlActionFromString(std::string_view raw) {
    for (const auto& [action, name] : actionNames) {
        if (name == raw) {
            return action;
        }
    }
    return std::nullopt;
}

std::optional<MCPControlRequest> MCPControlRequest::decode(const std::optional<std::string>& body) {
    const auto json = parseJSONBody(body);
    if (!json || !json->is_object()) {
        return std::nullopt;
    }
    const auto it = json->find("action");
    if (it == json->end() || !it->is_string()) {
        return std::nullopt;
    }
    const auto action = controlActionFromString(it->get_ref<const std::string&>());
    if (!action) {
        return std::nullopt;
    }
    return MCPControlRequest{*action};
}

nlohmann::json MCPControlResponse::toJSON() const {
    nlohmann::json out = {{"ok", ok}, {"state", state}};
    if (message) {
        out["message"] = *message;
    }
    return out;
}

std::string iso8601(double secondsSinceEpoch) {
    const auto whole = static_cast<std::time_t>(std::floor(secondsSinceEpoch));
    std::tm utc{};
    ::gmtime_r(&whole, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

nlohmann::json sessionItemJSON(const SessionCard& card) {
    nlohmann::json item = {{"sessionId", card.sessionId},     {"projectId", card.projectId},
                           {"projectName", card.projectName}, {"source", toString(card.source)},
                           {"status", toString(card.status)}, {"policy", toString(card.policy)},
                           {"promptCount", card.promptCount}, {"turnCount", card.turnCount}};
    if (card.firstActivity) {
        item["firstActivity"] = iso8601(*card.firstActivity);
    }
    if (card.lastActivity) {
        item["lastActivity"] = iso8601(*card.lastActivity);
    }
    if (card.gitBranch) {
        item["gitBranch"] = *card.gitBranch;
    }
    return item;
}

std::optional<SessionPolicyRequest> SessionPolicyRequest::decode(const std::optional<std::string>& body) {
    const auto json = parseJSONBody(body);
    if (!json || !json->is_object()) {
        return std::nullopt;
    }
    const auto sessionId = json->find("sessionId");
    const auto level = json->find("level");
    if (sessionId == json->end() || !sessionId->is_string() || level == json->end() || !level->is_string()) {
        return std::nullopt;
    }
    const auto parsed = reviewPolicyLevelFromString(level->get_ref<const std::string&>());
    if (!parsed) {
        return std::nullopt;
    }
    return SessionPolicyRequest{sessionId->get<std::string>(), *parsed};
}

} // namespace perchwell
