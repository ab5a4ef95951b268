#include "api/mcp_protocol.h"

#include "common/app_logger.h"

namespace perchwell {

nlohmann::json MCPProtocol::rpcResult(const nlohmann::json& id, nlohmann::json result) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"result", std::move(result)}};
}

nlohmann::json MCPProtocol::rpcError(const nlohmann::json& id, int code, std::string_view message) {
    return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

nlohmann::json MCPProtocol::toolResult(std::string_view text, bool isError) {
    nlohmann::json result = {{"content", nlohmann::json::array({{{"type", "text"}, {"text", text}}})}};
    if (isError) {
        result["isError"] = true;
    }
    return result;
}

const nlohmann::json& MCPProtocol::toolDescriptors() {
    static const nlohmann::json tools = nlohmann::json::array({
        {{"name", "pv_get_state"},
         {"description", "Return the current Perchwell state (settings + enabled/paused)."},
         {"inputSchema",
          {{"type", "object"}, {"properties", nlohmann::json::object()}, {"additionalProperties", false}}}},
        {{"name", "pv_control"},
         {"description", "Control Perchwell: pause / resume the watcher, or hide / show / wave the mascot."},
         {"inputSchema",
          {{"type", "object"},
           {"properties",
            {{"action", {{"type", "string"}, {"enum", {"pause", "resume", "wave", "hide", "show"}}}}}},
           {"required", {"action"}},
           {"additionalProperties", false}}}},
    });
    return tools;
}

nlohmann::json MCPProtocol::sendToolResult(const nlohmann::json& id, const nlohmann::json& value) {
    std::string text;
    try {
        text = value.dump(); // strict: text that is not UTF-8 fails here
    } catch (const nlohmann::json::exception& e) {
        AppLogger("mcp").error(std::string("sendToolResult encode failed: ") + e.what());
        return rpcError(id, -32603, std::string("Internal error: ") + e.what());
    }
    return rpcResult(id, toolResult(text, false));
}

nlohmann::json MCPProtocol::handleToolCall(const nlohmann::json& id, std::string_view name,
                                           const nlohmann::json& args, const Handlers& handlers) {
    if (name == "pv_get_state") {
        return sendToolResult(id, handlers.state().toJSON());
    }
    if (name == "pv_control") {
        const auto it = args.find("action");
        const auto action = it != args.end() && it->is_string()
                                ? controlActionFromString(it->get_ref<const std::string&>())
                                : std::nullopt;
        if (!action) {
            return rpcError(id, -32602, "Invalid action — must be one of pause/resume/wave/hide/show");
        }
        const ControlOutcome outcome = handlers.control(*action);
        const std::string text = outcome.ok ? "OK" : outcome.message.value_or("failed");
        return rpcResult(id, toolResult(text, !outcome.ok));
    }
    return rpcError(id, -32601, "Unknown tool: " + std::string(name));
}

HTTPResponse MCPProtocol::handleMCP(const std::optional<std::string>& body, const Handlers& handlers) {
    const auto message = parseJSONBody(body);
    if (!message || !message->is_object()) {
        return HTTPResponse::json(400, rpcError(nullptr, -32700, "Parse error"));
    }
    // A message without "id" is a notification: the streamable-HTTP transport acknowledges
    // it with 202 and no body, whatever its method. An "id" of null is a request.
    const auto idMember = message->find("id");
    if (idMember == message->end()) {
        return HTTPResponse{202, "application/json", {}, {}};
    }
    const nlohmann::json& id = *idMember;
    const auto methodMember = message->find("method");
    const std::string method = methodMember != message->end() && methodMember->is_string()
                                   ? methodMember->get<std::string>()
                                   : std::string();
    const auto paramsMember = message->find("params");
    const nlohmann::json params = paramsMember != message->end() && paramsMember->is_object()
                                      ? *paramsMember
                                      : nlohmann::json::object();

    nlohmann::json answer;
    if (method == "initialize") {
        answer = rpcResult(id, {{"protocolVersion", protocolVersion},
                                {"capabilities", {{"tools", nlohmann::json::object()}}},
                                {"serverInfo", {{"name", serverName}, {"version", serverVersion}}}});
    } else if (method == "ping") {
        // Either side may ping; the answer is an empty result.
        answer = rpcResult(id, nlohmann::json::object());
    } else if (method == "tools/list") {
        answer = rpcResult(id, {{"tools", toolDescriptors()}});
    } else if (method == "tools/call") {
        const auto name = params.find("name");
        const auto args = params.find("arguments");
        answer = handleToolCall(id, name != params.end() && name->is_string() ? name->get<std::string>() : "",
                                args != params.end() && args->is_object() ? *args : nlohmann::json::object(),
                                handlers);
    } else {
        answer = rpcError(id, -32601, "Method not found: " + method);
    }
    return HTTPResponse::json(200, answer);
}

} // namespace perchwell
