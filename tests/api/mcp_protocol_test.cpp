#include "api/mcp_protocol.h"

#include <gtest/gtest.h>

#include <vector>

namespace perchwell {
namespace {

using nlohmann::json;

class MCPProtocolTest : public ::testing::Test {
protected:
    MCPProtocol::Handlers handlers() {
        return {[this] { return state; },
                [this](MCPControlRequest::Action action) {
                    actions.push_back(action);
                    return outcome;
                }};
    }
    HTTPResponse post(const std::string& body) { return MCPProtocol::handleMCP(body, handlers()); }
    json answer(const std::string& body) {
        const auto response = post(body);
        EXPECT_EQ(response.status, 200);
        EXPECT_EQ(response.contentType, "application/json");
        return json::parse(response.body);
    }

    MCPStateResponse state{true, false, true, 80};
    ControlOutcome outcome;
    std::vector<MCPControlRequest::Action> actions;
};

TEST_F(MCPProtocolTest, ParseErrorsAreHTTP400WithNullId) {
    for (const std::optional<std::string>& body :
         {std::optional<std::string>(), std::optional<std::string>("[]"), std::optional<std::string>("{"),
          std::optional<std::string>("42"), std::optional<std::string>("\"x\""),
          std::optional<std::string>("[{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"tools/list\"}]"),
          std::optional<std::string>("{\"id\":\"\xff\"}")}) {
        const auto response = MCPProtocol::handleMCP(body, handlers());
        EXPECT_EQ(response.status, 400) << body.value_or("<none>");
        EXPECT_EQ(
            json::parse(response.body),
            json::parse(R"({"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"Parse error"}})"));
    }
}

TEST_F(MCPProtocolTest, NotificationsAreAcceptedWithoutBody) {
    for (
        const char* body :
        {R"({"jsonrpc":"2.0","method":"notifications/initialized"})",
         R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"pv_control","arguments":{"action":"pause"}}})",
         R"({})"}) {
        const auto response = post(body);
        EXPECT_EQ(response.status, 202) << body;
        EXPECT_EQ(response.body, "");
        EXPECT_EQ(HTTPResponse::reasonPhrase(response.status), "Accepted");
    }
    EXPECT_TRUE(actions.empty()); // a notification does nothing
}

TEST_F(MCPProtocolTest, IdsAreEchoedAsParsed) {
    for (const char* id : {"1", "\"abc\"", "null", "-7", "1.5", "{\"k\":[1]}"}) {
        const json reply =
            answer(std::string(R"({"jsonrpc":"2.0","id":)") + id + R"(,"method":"tools/list"})");
        EXPECT_EQ(reply["id"], json::parse(id)) << id;
        EXPECT_EQ(reply["jsonrpc"], "2.0");
        EXPECT_TRUE(reply.contains("result"));
    }
}

TEST_F(MCPProtocolTest, InitializeIgnoresTheClientVersion) {
    const json reply = answer(R"({"id":1,"method":"initialize","params":{"protocolVersion":"2099-01-01"}})");
    EXPECT_EQ(reply["result"], json::parse(R"({"protocolVersion":"2024-11-05","capabilities":{"tools":{}},
                                               "serverInfo":{"name":"perchwell","version":"0.1.1"}})"));
}

TEST_F(MCPProtocolTest, PingIsAnsweredWithAnEmptyResult) {
    for (const char* body : {R"({"jsonrpc":"2.0","id":7,"method":"ping"})",
                             R"({"jsonrpc":"2.0","id":"p","method":"ping","params":{"_meta":{}}})"}) {
        const json reply = answer(body);
        EXPECT_EQ(reply["id"], json::parse(body)["id"]);
        EXPECT_EQ(reply["result"], json::object()) << body;
        EXPECT_FALSE(reply.contains("error"));
    }
    EXPECT_TRUE(actions.empty());
}

TEST_F(MCPProtocolTest, ToolsListHasTheTwoDescriptorsInOrder) {
    const json tools = answer(R"({"id":2,"method":"tools/list"})")["result"]["tools"];
    ASSERT_EQ(tools.size(), 2u);
    EXPECT_EQ(tools[0]["name"], "pv_get_state");
    EXPECT_EQ(tools[0]["description"], "Return the current Perchwell state (settings + enabled/paused).");
    EXPECT_EQ(tools[0]["inputSchema"],
              json::parse(R"({"type":"object","properties":{},"additionalProperties":false})"));
    EXPECT_EQ(tools[1]["name"], "pv_control");
    EXPECT_EQ(tools[1]["description"],
              "Control Perchwell: pause / resume the watcher, or hide / show / wave the mascot.");
    EXPECT_EQ(tools[1]["inputSchema"],
              json::parse(R"({"type":"object","properties":{"action":{"type":"string",
        "enum":["pause","resume","wave","hide","show"]}},"required":["action"],"additionalProperties":false})"));
}

TEST_F(MCPProtocolTest, ErrorTable) {
    struct Case {
        std::string body;
        int code;
        std::string message;
    };
    const std::vector<Case> cases = {
        {R"({"id":1,"method":"resources/list"})", -32601, "Method not found: resources/list"},
        {R"({"id":1,"method":"Ping"})", -32601, "Method not found: Ping"},
        {R"({"id":1})", -32601, "Method not found: "},
        {R"({"id":1,"method":7})", -32601, "Method not found: "},
        {R"({"id":1,"method":"Tools/List"})", -32601, "Method not found: Tools/List"},
        {R"({"id":1,"method":"tools/call","params":{"name":"nope"}})", -32601, "Unknown tool: nope"},
        {R"({"id":1,"method":"tools/call","params":[1]})", -32601, "Unknown tool: "},
        {R"({"id":1,"method":"tools/call","params":{"name":"pv_control"}})", -32602,
         "Invalid action — must be one of pause/resume/wave/hide/show"},
        {R"({"id":1,"method":"tools/call","params":{"name":"pv_control","arguments":{"action":"Pause"}}})",
         -32602, "Invalid action — must be one of pause/resume/wave/hide/show"},
        {R"({"id":1,"method":"tools/call","params":{"name":"pv_control","arguments":{"action":1}}})", -32602,
         "Invalid action — must be one of pause/resume/wave/hide/show"},
        {R"({"id":1,"method":"tools/call","params":{"name":"pv_control","arguments":"pause"}})", -32602,
         "Invalid action — must be one of pause/resume/wave/hide/show"},
    };
    for (const auto& c : cases) {
        const json reply = answer(c.body);
        EXPECT_FALSE(reply.contains("result")) << c.body;
        EXPECT_EQ(reply["error"]["code"], c.code) << c.body;
        EXPECT_EQ(reply["error"]["message"], c.message) << c.body;
    }
    EXPECT_TRUE(actions.empty());
}

TEST_F(MCPProtocolTest, GetStateReturnsTheStateJSONAsText) {
    const json result = answer(
        R"({"id":"s","method":"tools/call","params":{"name":"pv_get_state","arguments":{}}})")["result"];
    EXPECT_FALSE(result.contains("isError"));
    ASSERT_EQ(result["content"].size(), 1u);
    EXPECT_EQ(result["content"][0]["type"], "text");
    EXPECT_EQ(json::parse(result["content"][0]["text"].get<std::string>()),
              json::parse(R"({"enabled":true,"mascotEnabled":false,"safePromptOnly":true,"mcpPort":80})"));
}

TEST_F(MCPProtocolTest, ControlRunsTheActionAndReportsItsOutcome) {
    json result = answer(
        R"({"id":3,"method":"tools/call","params":{"name":"pv_control","arguments":{"action":"pause"}}})")
        ["result"];
    EXPECT_EQ(result, json::parse(R"({"content":[{"type":"text","text":"OK"}]})"));
    ASSERT_EQ(actions, std::vector<MCPControlRequest::Action>{MCPControlRequest::Action::pause});

    outcome = {false, "mascot disabled in settings"};
    result = answer(
        R"({"id":4,"method":"tools/call","params":{"name":"pv_control","arguments":{"action":"show"}}})")
        ["result"];
    EXPECT_EQ(
        result,
        json::parse(R"({"content":[{"type":"text","text":"mascot disabled in settings"}],"isError":true})"));

    outcome = {false, std::nullopt};
    result = answer(
        R"({"id":5,"method":"tools/call","params":{"name":"pv_control","arguments":{"action":"hide"}}})")
        ["result"];
    EXPECT_EQ(result["content"][0]["text"], "failed");
}

TEST_F(MCPProtocolTest, UnencodableStateIsAnInternalError) {
    const json reply = MCPProtocol::sendToolResult(9, json{{"bad", "\xff"}});
    EXPECT_EQ(reply["error"]["code"], -32603);
    EXPECT_EQ(reply["error"]["message"].get<std::string>().rfind("Internal error: ", 0), 0u);
}

} // namespace
} // namespace perchwell
