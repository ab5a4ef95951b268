// libFuzzer target: any bytes through the request parser, the route table and, for a
// parsed body, the MCP and control decoders. Built by run_http_fuzz.sh, not by CMake.
#include "api/api_route.h"
#include "api/api_types.h"
#include "api/http_request.h"
#include "api/mcp_protocol.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view buffer(reinterpret_cast<const char*>(data), size);
    const auto request = perchwell::HTTPRequest::parse(buffer);
    if (!request) {
        return 0;
    }
    // Invariants: the body never reaches past the buffer and is never empty.
    if (request->body && (request->body->empty() || request->body->size() > size)) {
        std::abort();
    }
    if (request->method.empty() || request->path.empty()) {
        std::abort();
    }
    (void)perchwell::matchRoute(*request);
    (void)perchwell::MCPControlRequest::decode(request->body);
    (void)perchwell::SessionPolicyRequest::decode(request->body);
    const perchwell::MCPProtocol::Handlers handlers{
        [] { return perchwell::MCPStateResponse{}; },
        [](perchwell::MCPControlRequest::Action) { return perchwell::ControlOutcome{}; }};
    const auto response = perchwell::MCPProtocol::handleMCP(request->body, handlers);
    (void)response.serialize();
    return 0;
}
