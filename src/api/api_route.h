#pragma once

#include "api/http_request.h"

namespace perchwell {

// The local API's route table; method and path match exactly and case-sensitively.
enum class ApiRoute {
    health,           // GET /health (public)
    landing,          // GET / (public)
    mcpDiscovery,     // GET /mcp (public)
    mcpNoEventStream, // GET /mcp asking for an event stream: 405, there is no server stream (public)
    state,            // GET /api/state
    control,          // POST /api/control
    events,           // GET /api/events
    sessions,         // GET /api/sessions
    sessionPolicy,    // POST /api/sessions/policy
    mcp,              // POST /mcp
    notFound,         // anything else, after the token check
};

ApiRoute matchRoute(const HTTPRequest& request);
bool isPublic(ApiRoute route);

} // namespace perchwell
