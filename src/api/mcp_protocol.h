#pragma once

#include "api/api_types.h"
#include "api/http_response.h"

#include <functional>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace perchwell {

// The MCP endpoint's JSON-RPC 2.0 handling, free of sockets: a POST /mcp body in, one
// HTTP answer out. Stateless: no MCP session, no negotiation.
class MCPProtocol {
public:
    static constexpr std::string_view protocolVersion = "2024-11-05";
    static constexpr std::string_view serverName = "perchwell";
    static constexpr std::string_view serverVersion = "0.1.1";

    struct Handlers {
        std::function<MCPStateResponse()> state;
        std::function<ControlOutcome(MCPControlRequest::Action)> control;
    };

    // Parse errors (no body, not JSON, not an object, a batch) are HTTP 400; a
    // notification (no "id" member) is 202 with an empty body; everything else is 200.
    static HTTPResponse handleMCP(const std::optional<std::string>& body, const Handlers& handlers);
    // The JSON-RPC answer of one tools/call.
    static nlohmann::json handleToolCall(const nlohmann::json& id, std::string_view name,
                                         const nlohmann::json& args, const Handlers& handlers);

    static nlohmann::json rpcResult(const nlohmann::json& id, nlohmann::json result);
    static nlohmann::json rpcError(const nlohmann::json& id, int code, std::string_view message);
    static nlohmann::json toolResult(std::string_view text, bool isError);
    // The JSON of `value` as the text of one text item; encoding failures become -32603.
    static nlohmann::json sendToolResult(const nlohmann::json& id, const nlohmann::json& value);

    static const nlohmann::json& toolDescriptors();
};

} // namespace perchwell
