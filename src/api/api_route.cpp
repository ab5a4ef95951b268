#include "api/api_route.h"

#include <array>

namespace perchwell {
namespace {

struct Row {
    std::string_view method;
    std::string_view path;
    ApiRoute route;
};

constexpr std::array<Row, 9> routeTable = {{
    {"GET", "/health", ApiRoute::health},
    {"GET", "/", ApiRoute::landing},
    {"GET", "/mcp", ApiRoute::mcpDiscovery},
    {"GET", "/api/state", ApiRoute::state},
    {"POST", "/api/control", ApiRoute::control},
    {"GET", "/api/events", ApiRoute::events},
    {"GET", "/api/sessions", ApiRoute::sessions},
    {"POST", "/api/sessions/policy", ApiRoute::sessionPolicy},
    {"POST", "/mcp", ApiRoute::mcp},
}};

} // namespace

ApiRoute matchRoute(const HTTPRequest& request) {
    for (const Row& row : routeTable) {
        if (row.method != request.method || row.path != request.path) {
            continue;
        }
        // MCP clients open a GET for server-initiated messages; this server has none,
        // and the transport's answer for that is 405. Other GETs get the discovery text.
        if (row.route == ApiRoute::mcpDiscovery &&
            request.header("accept").value_or("").find("text/event-stream") != std::string_view::npos) {
            return ApiRoute::mcpNoEventStream;
        }
        return row.route;
    }
    return ApiRoute::notFound;
}

bool isPublic(ApiRoute route) {
    return route == ApiRoute::health || route == ApiRoute::landing || route == ApiRoute::mcpDiscovery ||
           route == ApiRoute::mcpNoEventStream;
}

} // namespace perchwell
