#include "api/api_route.h"
#include "api/api_types.h"
#include "api/http_response.h"

#include <gtest/gtest.h>

#include <vector>

namespace perchwell {
namespace {

HTTPRequest request(std::string method, std::string path, std::map<std::string, std::string> headers = {}) {
    return HTTPRequest{std::move(method), std::move(path), std::move(headers), std::nullopt};
}

TEST(ApiRoute, TableMatchesExactlyAndCaseSensitively) {
    struct Case {
        std::string method, path;
        ApiRoute route;
    };
    const std::vector<Case> cases = {
        {"GET", "/health", ApiRoute::health},
        {"GET", "/", ApiRoute::landing},
        {"GET", "/mcp", ApiRoute::mcpDiscovery},
        {"GET", "/api/state", ApiRoute::state},
        {"POST", "/api/control", ApiRoute::control},
        {"GET", "/api/events", ApiRoute::events},
        {"GET", "/api/sessions", ApiRoute::sessions},
        {"POST", "/api/sessions/policy", ApiRoute::sessionPolicy},
        {"POST", "/mcp", ApiRoute::mcp},
        {"HEAD", "/health", ApiRoute::notFound},
        {"get", "/health", ApiRoute::notFound},
        {"GET", "/Health", ApiRoute::notFound},
        {"GET", "/api/state?x=1", ApiRoute::notFound},
        {"GET", "/api/state/", ApiRoute::notFound},
        {"DELETE", "/api/state", ApiRoute::notFound},
        {"POST", "/api/state", ApiRoute::notFound},
        {"GET", "/api/control", ApiRoute::notFound},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matchRoute(request(c.method, c.path)), c.route) << c.method << " " << c.path;
    }
}

TEST(ApiRoute, EventStreamGetOnMcpIsRefusedOtherGetsDiscover) {
    EXPECT_EQ(matchRoute(request("GET", "/mcp", {{"accept", "text/event-stream"}})),
              ApiRoute::mcpNoEventStream);
    EXPECT_EQ(matchRoute(request("GET", "/mcp", {{"accept", "application/json, text/event-stream"}})),
              ApiRoute::mcpNoEventStream);
    EXPECT_EQ(matchRoute(request("GET", "/mcp", {{"accept", "text/html,*/*"}})), ApiRoute::mcpDiscovery);
    EXPECT_EQ(matchRoute(request("GET", "/api/events", {{"accept", "text/event-stream"}})), ApiRoute::events);
}

TEST(HTTPResponse, SerializedBytesAndReasonPhrases) {
    const std::vector<std::pair<int, std::string>> reasons = {
        {200, "OK"}, {400, "Bad Request"}, {404, "Not Found"}, {500, "Internal Server Error"}, {401, "OK"},
        {413, "OK"}, {503, "OK"},          {202, "Accepted"},  {405, "Method Not Allowed"}};
    for (const auto& [status, reason] : reasons) {
        EXPECT_EQ(HTTPResponse::reasonPhrase(status), reason) << status;
    }
    EXPECT_EQ(HTTPResponse::error(413, "payload too large").serialize(),
              "HTTP/1.1 413 OK\r\nContent-Type: application/json\r\nContent-Length: 29\r\n"
              "Connection: close\r\n\r\n{\"error\":\"payload too large\"}");
    HTTPResponse withHeader{405, "application/json", "", {{"Allow", "POST"}}};
    EXPECT_EQ(withHeader.serialize(), "HTTP/1.1 405 Method Not Allowed\r\nContent-Type: application/json\r\n"
                                      "Content-Length: 0\r\nAllow: POST\r\nConnection: close\r\n\r\n");
    // "—" is three bytes: the length counts bytes, not characters.
    const std::string utf8Body = HTTPResponse::error(401, "—").serialize();
    EXPECT_NE(utf8Body.find("Content-Length: 15\r\n"), std::string::npos) << utf8Body;
    EXPECT_NO_THROW(HTTPResponse::error(400, "\xff").serialize());
}

TEST(ApiTypes, ControlRequestDecoding) {
    struct Case {
        std::optional<std::string> body;
        std::optional<MCPControlRequest::Action> action;
    };
    const std::vector<Case> cases = {
        {R"({"action":"pause"})", MCPControlRequest::Action::pause},
        {R"({"action":"show","extra":1})", MCPControlRequest::Action::show},
        {R"({"action":"Pause"})", std::nullopt},
        {R"({"action":"jump"})", std::nullopt},
        {R"({"action":null})", std::nullopt},
        {R"(["pause"])", std::nullopt},
        {"not json", std::nullopt},
        {"", std::nullopt},
        {std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto decoded = MCPControlRequest::decode(c.body);
        EXPECT_EQ(decoded ? std::optional(decoded->action) : std::nullopt, c.action)
            << c.body.value_or("<none>");
    }
    EXPECT_EQ(
        (MCPControlResponse{false, "paused", "mascot disabled in settings"}.toJSON()),
        nlohmann::json::parse(R"({"ok":false,"state":"paused","message":"mascot disabled in settings"})"));
    EXPECT_FALSE((MCPControlResponse{true, "running", std::nullopt}.toJSON().contains("message")));
}

TEST(ApiTypes, SessionPolicyRequestDecoding) {
    struct Case {
        std::string body;
        bool valid;
    };
    const std::vector<Case> cases = {
        {R"({"sessionId":"s1","level":"strict"})", true},
        {R"({"sessionId":"","level":"global"})", true},
        {R"({"sessionId":"s1","level":"STRICT"})", false},
        {R"({"sessionId":"s1","level":"Global"})", false},
        {R"({"sessionId":"s1"})", false},
        {R"({"level":"strict"})", false},
        {R"({"sessionId":5,"level":"strict"})", false},
        {R"({"sessionId":"s1","level":null})", false},
        {"[]", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SessionPolicyRequest::decode(c.body).has_value(), c.valid) << c.body;
    }
    const auto decoded = SessionPolicyRequest::decode(std::string(R"({"sessionId":"abc","level":"manual"})"));
    EXPECT_EQ(decoded->sessionId, "abc");
    EXPECT_EQ(decoded->level, ReviewPolicyLevel::manual);
}

} // namespace
} // namespace perchwell
