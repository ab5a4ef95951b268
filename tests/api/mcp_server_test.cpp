#include "api/mcp_restart_pipeline.h"
#include "api/mcp_server.h"
#include "companion/mascot_controlling.h"
#include "fake_keychain.h"
#include "hooks/hook_command.h"
#include "loopback_client.h"
#include "state/coordinator.h"
#include "state/settings_store.h"
#include "support/temp_home.h"
#include "workflow/workflow_store.h"

#include <QSignalSpy>
#include <QTcpServer>
#include <algorithm>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>
#include <sys/resource.h>

namespace perchwell {
namespace {

using nlohmann::json;
using testing::exchange;
using testing::httpRequest;
using testing::LoopbackClient;
using testing::RawClient;

class CountingMascot : public MascotControlling {
public:
    void show() override { ++shown; }
    void hide() override { ++hidden; }
    void set(const MascotState& s) override { current = s; }
    MascotState state() const override { return current; }
    void beginExercise() override {}
    MascotState current = MascotState::pacing();
    int shown = 0;
    int hidden = 0;
};

quint16 freePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

class MCPServerTest : public ::testing::Test {
protected:
    void SetUp() override {
        keychain->items["com.brisklane.perchwell/mcp-token"] = token;
        store.setMcpPort(freePort());
        server.setCoordinator(&coordinator);
        server.setMascot(&mascot);
        server.start();
        ASSERT_TRUE(server.isListening()) << server.lastError().toStdString();
    }

    testing::HttpReply get(const std::string& path, const std::string& auth = "") {
        return exchange(server.port(), httpRequest("GET", path, auth));
    }
    testing::HttpReply post(const std::string& path, const std::string& body, const std::string& auth) {
        return exchange(server.port(), httpRequest("POST", path, auth, body));
    }
    static json body(const testing::HttpReply& reply) { return json::parse(reply.body); }

    std::unique_ptr<WorkflowStore> openStore() {
        auto opened = WorkflowStore::open(home.path() + "/wf/workflow.db");
        EXPECT_TRUE(opened.ok());
        return opened ? std::move(*opened) : nullptr;
    }

    testing::TempHome home;
    const std::string token = std::string(64, 'a');
    std::shared_ptr<testing::FakeKeychain> keychain = std::make_shared<testing::FakeKeychain>();
    SettingsStore store{home.path() + "/defaults.json", nullptr};
    CountingMascot mascot;
    Coordinator coordinator{store, &mascot};
    MCPServer server{store, keychain};
};

TEST_F(MCPServerTest, PublicRoutesNeedNoToken) {
    auto reply = get("/health");
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 200 OK");
    EXPECT_EQ(reply.headers["content-type"], "application/json");
    EXPECT_EQ(reply.headers["connection"], "close");
    EXPECT_EQ(body(reply), json::parse(R"({"ok":true,"version":"0.1.1"})"));

    reply = get("/");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.headers["content-type"], "text/html; charset=utf-8");
    EXPECT_NE(reply.body.find("127.0.0.1:" + std::to_string(store.mcpPort())), std::string::npos);
    EXPECT_EQ(reply.body.find(token), std::string::npos);

    reply = get("/mcp");
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(body(reply), json::parse(R"({"transport":"streamable-http","name":"perchwell","instructions":
        "POST JSON-RPC 2.0 to this same endpoint with header `Authorization: Bearer <token>`."})"));

    // An MCP client asking for a server stream learns there is none.
    reply = exchange(server.port(), httpRequest("GET", "/mcp", "", "", "Accept: text/event-stream\r\n"));
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 405 Method Not Allowed");
    EXPECT_EQ(reply.headers["allow"], "GET, POST");
}

TEST_F(MCPServerTest, AuthorizationRules) {
    struct Case {
        std::string request;
        int status;
    };
    const std::string unauthorized =
        R"({"error":"unauthorized — missing or invalid Authorization: Bearer header"})";
    const std::vector<Case> cases = {
        {httpRequest("POST", "/mcp", "", R"({"id":1,"method":"tools/list"})"), 401},
        {httpRequest("HEAD", "/health"), 401},
        {httpRequest("GET", "/api/state"), 401},
        {httpRequest("DELETE", "/api/state"), 401},
        {httpRequest("GET", "/api/state", "wrong"), 401},
        {httpRequest("GET", "/api/state", token + "x"), 401},
        {"GET /api/state HTTP/1.1\r\nauthorization: bearer " + token + "\r\n\r\n", 401},
        {"GET /api/state HTTP/1.1\r\nAUTHORIZATION: Bearer " + token + "\r\n\r\n", 200},
        {"GET /api/state HTTP/1.1\r\nAuthorization: Bearer   " + token + " \t \r\n\r\n", 200},
        {httpRequest("DELETE", "/api/state", token), 404},
        {httpRequest("GET", "/api/state?x=1", token), 404},
        {httpRequest("HEAD", "/health", token), 404},
    };
    for (const auto& c : cases) {
        const auto reply = exchange(server.port(), c.request);
        EXPECT_EQ(reply.status, c.status) << c.request;
        if (c.status == 401) {
            EXPECT_EQ(reply.statusLine, "HTTP/1.1 401 OK");
            EXPECT_EQ(reply.body, unauthorized);
        } else if (c.status == 404) {
            EXPECT_EQ(reply.statusLine, "HTTP/1.1 404 Not Found");
            EXPECT_EQ(reply.body, R"({"error":"not found"})");
        }
    }
}

TEST_F(MCPServerTest, StateReportsTheStoredSettings) {
    store.setSafePromptOnly(false);
    const auto reply = get("/api/state", token);
    EXPECT_EQ(body(reply), (json{{"enabled", true},
                                 {"mascotEnabled", true},
                                 {"safePromptOnly", false},
                                 {"mcpPort", store.mcpPort()}}));
}

TEST_F(MCPServerTest, ControlActions) {
    auto reply = post("/api/control", R"({"action":"pause"})", token);
    EXPECT_EQ(body(reply), json::parse(R"({"ok":true,"state":"paused"})"));
    EXPECT_FALSE(store.enabled());
    EXPECT_EQ(mascot.current, MascotState::paused());

    reply = post("/api/control", R"({"action":"resume"})", token);
    EXPECT_EQ(body(reply), json::parse(R"({"ok":true,"state":"running"})"));
    EXPECT_TRUE(store.enabled());
    EXPECT_EQ(mascot.current, MascotState::pacing());

    coordinator.suspend(); // the eye break holds the watcher
    reply = post("/api/control", R"({"action":"resume"})", token);
    EXPECT_EQ(body(reply)["state"], "running");
    EXPECT_EQ(mascot.current, MascotState::paused());
    coordinator.resume();

    post("/api/control", R"({"action":"wave"})", token);
    EXPECT_EQ(mascot.current, MascotState::happy());
    post("/api/control", R"({"action":"hide"})", token);
    EXPECT_EQ(mascot.hidden, 1);
    post("/api/control", R"({"action":"show"})", token);
    EXPECT_EQ(mascot.shown, 1);

    store.setMascotEnabled(false);
    reply = post("/api/control", R"({"action":"show"})", token);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(body(reply),
              json::parse(R"({"ok":false,"state":"running","message":"mascot disabled in settings"})"));
    EXPECT_EQ(mascot.shown, 1);

    for (const std::string& bad :
         {std::string(R"({"action":"Pause"})"), std::string("not json"), std::string()}) {
        reply = post("/api/control", bad, token);
        EXPECT_EQ(reply.statusLine, "HTTP/1.1 400 Bad Request") << bad;
        EXPECT_EQ(reply.body, R"({"error":"invalid body"})");
    }
}

TEST_F(MCPServerTest, PauseWithoutCoordinatorChangesNothing) {
    server.setCoordinator(nullptr);
    const auto reply = post("/api/control", R"({"action":"pause"})", token);
    EXPECT_EQ(body(reply), json::parse(R"({"ok":true,"state":"running"})"));
    EXPECT_TRUE(store.enabled());
}

TEST_F(MCPServerTest, EventStreamSendsOnlyTheConnectedCommentAndIsDroppedWhenThePeerLeaves) {
    LoopbackClient client(server.port());
    client.write(httpRequest("GET", "/api/events", token));
    client.pump(300);
    EXPECT_EQ(client.received(),
              "HTTP/1.1 200 OK\r\nContent-Type: text/event-stream\r\nCache-Control: no-cache\r\n"
              "Connection: keep-alive\r\n\r\n:connected\n\n");
    EXPECT_TRUE(client.connected());
    EXPECT_EQ(server.eventStreamCount(), 1);

    client.close();
    testing::pumpEvents(200); // let the server notice
    EXPECT_EQ(server.eventStreamCount(), 0);
    EXPECT_EQ(server.openConnectionCount(), 0);

    LoopbackClient second(server.port());
    second.write(httpRequest("GET", "/api/events", token));
    second.pump(200);
    server.stop();
    EXPECT_TRUE(second.waitClosed(2000));
    EXPECT_EQ(server.eventStreamCount(), 0);
}

TEST_F(MCPServerTest, SessionRoutesWithoutStoreAre503) {
    auto reply = get("/api/sessions", token);
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 503 OK");
    EXPECT_EQ(reply.body, R"({"error":"workflow store unavailable"})");
    reply = post("/api/sessions/policy", R"({"sessionId":"s","level":"strict"})", token);
    EXPECT_EQ(reply.status, 503);
    // The body is checked before the store.
    reply = post("/api/sessions/policy", R"({"sessionId":"s","level":"STRICT"})", token);
    EXPECT_EQ(reply.status, 400);
}

TEST_F(MCPServerTest, SessionListFromTheStore) {
    auto wf = openStore();
    server.setWorkflowStore(wf.get());
    EXPECT_EQ(get("/api/sessions", token).body, R"({"sessions":[]})");

    UserEntry prompt{"u1", "p1", "s1", 1700000000.5, "/home/ann/app", "main", "hi", "default", std::nullopt};
    ASSERT_TRUE(wf->ingest("s1", "-home-ann-app", "/t/s1.jsonl", {prompt}, 10));
    const json sessions = body(get("/api/sessions", token))["sessions"];
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0]["sessionId"], "s1");
    EXPECT_EQ(sessions[0]["projectId"], "-home-ann-app");
    EXPECT_EQ(sessions[0]["source"], "cli");
    EXPECT_EQ(sessions[0]["status"], "done");
    EXPECT_EQ(sessions[0]["policy"], "global");
    EXPECT_EQ(sessions[0]["promptCount"], 1);
    EXPECT_EQ(sessions[0]["firstActivity"], "2023-11-14T22:13:20Z");
    EXPECT_EQ(sessions[0]["gitBranch"], "main");
    server.setWorkflowStore(nullptr);
}

TEST_F(MCPServerTest, SessionPolicyWritesTheTableThenTheFile) {
    auto wf = openStore();
    server.setWorkflowStore(wf.get());
    HookCommand::saveSessionPolicies({{"other", ReviewPolicyLevel::manual}});

    struct Case {
        std::string body;
        int status;
    };
    const std::string invalid = R"({"error":"invalid body — expected {sessionId, level}"})";
    for (const Case& c : std::vector<Case>{{R"({"sessionId":"s1","level":"Strict"})", 400},
                                           {R"({"sessionId":"s1"})", 400},
                                           {"[]", 400},
                                           {"", 400}}) {
        const auto reply = post("/api/sessions/policy", c.body, token);
        EXPECT_EQ(reply.status, c.status) << c.body;
        EXPECT_EQ(reply.body, invalid);
    }

    auto reply = post("/api/sessions/policy", R"({"sessionId":"s1","level":"strict"})", token);
    EXPECT_EQ(body(reply), json::parse(R"({"ok":true,"sessionId":"s1","level":"strict"})"));
    auto policies = HookCommand::loadAllSessionPolicies();
    EXPECT_EQ(policies.at("s1"), ReviewPolicyLevel::strict);
    EXPECT_EQ(policies.at("other"), ReviewPolicyLevel::manual);

    reply = post("/api/sessions/policy", R"({"sessionId":"s1","level":"global"})", token);
    EXPECT_EQ(body(reply), json::parse(R"({"ok":true,"sessionId":"s1","level":"global"})"));
    policies = HookCommand::loadAllSessionPolicies();
    EXPECT_EQ(policies.count("s1"), 0u);
    EXPECT_EQ(policies.size(), 1u);

    // A failing table write leaves the file alone.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((home.path() + "/wf/workflow.db").c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "DROP TABLE session_policies", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    reply = post("/api/sessions/policy", R"({"sessionId":"s2","level":"manual"})", token);
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 500 Internal Server Error");
    EXPECT_EQ(body(reply)["error"].get<std::string>().rfind("db write failed: ", 0), 0u) << reply.body;
    EXPECT_EQ(HookCommand::loadAllSessionPolicies().count("s2"), 0u);
    server.setWorkflowStore(nullptr);
}

TEST_F(MCPServerTest, McpOverHttp) {
    auto reply = post("/mcp", R"({"jsonrpc":"2.0","method":"notifications/initialized"})", token);
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 202 Accepted");
    EXPECT_EQ(reply.headers["content-length"], "0");
    EXPECT_EQ(reply.body, "");

    reply = post("/mcp", "[]", token);
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(body(reply)["error"]["code"], -32700);

    reply = post("/mcp", R"({"jsonrpc":"2.0","id":"x","method":"tools/call","params":{"name":"pv_control",
                              "arguments":{"action":"pause"}}})",
                 token);
    EXPECT_EQ(body(reply), json::parse(R"({"jsonrpc":"2.0","id":"x","result":{"content":[{"type":"text",
                                          "text":"OK"}]}})"));
    EXPECT_FALSE(store.enabled());
}

TEST_F(MCPServerTest, RequestsSplitAcrossPacketsAreAnsweredOnceComplete) {
    const std::string request = httpRequest("POST", "/api/control", token, R"({"action":"wave"})");
    LoopbackClient client(server.port());
    const size_t cut = request.find("\r\n\r\n") + 4 + 4; // head plus 4 of the body's bytes
    client.write(request.substr(0, 20));
    client.pump(50);
    client.write(request.substr(20, cut - 20));
    client.pump(100);
    EXPECT_EQ(client.received(), "");
    EXPECT_EQ(mascot.current, MascotState::pacing());
    client.write(request.substr(cut));
    ASSERT_TRUE(client.waitClosed());
    EXPECT_EQ(client.reply().status, 200);
    EXPECT_EQ(mascot.current, MascotState::happy());
}

TEST_F(MCPServerTest, ServerGoneBeforeTheStoreAnswers) {
    auto wf = openStore();
    auto doomed = std::make_unique<MCPServer>(store, keychain);
    store.setMcpPort(freePort());
    doomed->setWorkflowStore(wf.get());
    doomed->start();
    LoopbackClient client(doomed->port());
    client.write(httpRequest("GET", "/api/sessions", token));
    // Until the request is in (its answer then waits for the store).
    for (int i = 0; i < 200 && doomed->openConnectionCount() == 0 && client.received().empty(); ++i) {
        testing::pumpEvents(5);
    }
    doomed.reset();
    EXPECT_TRUE(client.waitClosed(2000));
    testing::pumpEvents(100); // the store's late answer finds no server and does nothing
}

TEST_F(MCPServerTest, OnlyTheFirstRequestOfAConnectionIsAnswered) {
    LoopbackClient client(server.port());
    client.write(httpRequest("GET", "/health") +
                 httpRequest("POST", "/api/control", token, R"({"action":"pause"})"));
    ASSERT_TRUE(client.waitClosed());
    EXPECT_EQ(client.reply().body, R"({"ok":true,"version":"0.1.1"})");
    EXPECT_TRUE(store.enabled());
}

TEST_F(MCPServerTest, SizeCapIsInclusive) {
    const std::string head =
        "POST /nowhere HTTP/1.1\r\nAuthorization: Bearer " + token + "\r\nContent-Length: ";
    // Head plus body of exactly `total` bytes (the length's digits do not change near the cap).
    const auto headOfSize = [&](size_t total) {
        const size_t bodySize = total - head.size() - 4 - 7;
        return head + std::to_string(bodySize) + "\r\n\r\n";
    };
    const std::string exact = headOfSize(HTTPRequest::maxRequestBytes);
    const std::string request = exact + std::string(HTTPRequest::maxRequestBytes - exact.size(), 'x');
    ASSERT_EQ(request.size(), HTTPRequest::maxRequestBytes);
    EXPECT_EQ(exchange(server.port(), request).status, 404); // parsed and routed
    EXPECT_EQ(exchange(server.port(), request + "trailing bytes are not the request").status, 404);

    // One byte more is refused as soon as the head announces it, before any body is sent.
    LoopbackClient over(server.port());
    over.write(headOfSize(HTTPRequest::maxRequestBytes + 1));
    ASSERT_TRUE(over.waitClosed());
    EXPECT_EQ(over.reply().statusLine, "HTTP/1.1 413 OK");
    EXPECT_EQ(over.reply().body, R"({"error":"payload too large"})");
    EXPECT_EQ(server.bufferedBytes(), 0u);
}

TEST_F(MCPServerTest, HeadSearchStaysLinearUnderACarriageReturnFlood) {
    // 4 MiB of CR in 16 KiB pieces: no head end ever comes. The answer is 413, and the
    // search examines each byte about once rather than the whole buffer per piece.
    const uint64_t before = server.headBytesScanned();
    LoopbackClient client(server.port());
    client.write("GET / HTTP/1.1\r\n");
    const std::string piece(16 * 1024, '\r');
    for (size_t sent = 0; sent <= HTTPRequest::maxRequestBytes && client.received().empty();
         sent += piece.size()) {
        client.write(piece);
        QCoreApplication::processEvents();
    }
    ASSERT_TRUE(client.waitClosed());
    EXPECT_EQ(client.reply().status, 413);
    const uint64_t scanned = server.headBytesScanned() - before;
    EXPECT_GE(scanned, HTTPRequest::maxRequestBytes);
    EXPECT_LT(scanned, HTTPRequest::maxRequestBytes + 2 * piece.size())
        << "the search went over old bytes again";
    EXPECT_EQ(server.bufferedBytes(), 0u);
}

TEST_F(MCPServerTest, TokenIsCheckedBeforeAnyBodyIsRead) {
    const std::string unauthorized =
        R"({"error":"unauthorized — missing or invalid Authorization: Bearer header"})";
    for (const std::string& auth : {std::string(), std::string("Authorization: Bearer wrong\r\n")}) {
        // Only the head is sent; a body of 100 MB is announced and never comes.
        RawClient client(server.port());
        ASSERT_TRUE(
            client.sendAll("POST /api/control HTTP/1.1\r\n" + auth + "Content-Length: 100000000\r\n\r\n"));
        ASSERT_TRUE(client.readUntilClosed());
        EXPECT_EQ(client.reply().statusLine, "HTTP/1.1 401 OK") << auth;
        EXPECT_EQ(client.reply().body, unauthorized);
        EXPECT_EQ(server.bufferedBytes(), 0u);
    }

    // A client that sends its body at once still reads the early answer, not a reset.
    RawClient eager(server.port());
    eager.sendAll("POST /mcp HTTP/1.1\r\nContent-Length: 3000000\r\n\r\n");
    eager.sendAll(std::string(3'000'000, '{'));
    ASSERT_TRUE(eager.readUntilClosed());
    EXPECT_EQ(eager.reply().status, 401);
}

TEST_F(MCPServerTest, BytesBufferedAcrossConnectionsAreCapped) {
    server.setLimits({10'000, 256, 100'000, 200, 2'000});
    server.start();
    const std::string body = R"({"action":"wave"})" + std::string(80'000 - 17, ' ');
    const std::string big = httpRequest("POST", "/api/control", token, body);
    const size_t headSize = big.size() - body.size();

    // The first holds room for its whole announced body while it trickles in.
    LoopbackClient first(server.port());
    first.write(big.substr(0, headSize + 1000));
    first.pump(100);
    EXPECT_EQ(server.bufferedBytes(), big.size());

    // A second that would go past the cap is turned away at once.
    const auto refused =
        exchange(server.port(), httpRequest("POST", "/api/control", token, std::string(30'000, ' ')));
    EXPECT_EQ(refused.statusLine, "HTTP/1.1 503 OK");
    EXPECT_EQ(refused.headers.at("retry-after"), "1");
    EXPECT_EQ(json::parse(refused.body)["error"].get<std::string>().rfind("busy", 0), 0u) << refused.body;
    // Small requests still fit beside it.
    EXPECT_EQ(get("/health").status, 200);

    first.write(big.substr(headSize + 1000));
    ASSERT_TRUE(first.waitClosed());
    EXPECT_EQ(first.reply().status, 200);
    EXPECT_EQ(mascot.current, MascotState::happy());
    EXPECT_EQ(server.bufferedBytes(), 0u);
    EXPECT_EQ(
        exchange(server.port(), httpRequest("POST", "/api/control", token, R"({"action":"hide"})")).status,
        200);
}

TEST_F(MCPServerTest, HalfClosedClientsGetTheirAnswer) {
    auto wf = openStore();
    server.setWorkflowStore(wf.get());
    struct Case {
        std::string request;
        std::string expectedBody;
    };
    const std::vector<Case> cases = {
        {httpRequest("GET", "/health"), R"({"ok":true,"version":"0.1.1"})"},
        {httpRequest("POST", "/api/control", token, R"({"action":"pause"})"),
         R"({"ok":true,"state":"paused"})"},
        // Answered later, once the store has written the row.
        {httpRequest("POST", "/api/sessions/policy", token, R"({"sessionId":"s9","level":"strict"})"),
         R"({"ok":true,"sessionId":"s9","level":"strict"})"},
        {httpRequest("GET", "/api/sessions", token), R"({"sessions":[]})"},
    };
    for (const auto& c : cases) {
        RawClient client(server.port()); // like `nc -N`: send, then shut down the sending side
        ASSERT_TRUE(client.sendAll(c.request));
        client.shutdownWrite();
        ASSERT_TRUE(client.readUntilClosed()) << c.request;
        EXPECT_EQ(client.reply().status, 200) << c.request;
        EXPECT_EQ(json::parse(client.reply().body), json::parse(c.expectedBody));
    }
    EXPECT_FALSE(store.enabled());
    EXPECT_EQ(HookCommand::loadAllSessionPolicies().at("s9"), ReviewPolicyLevel::strict);

    // Half a request and then the end: nothing is sent.
    RawClient partial(server.port());
    partial.sendAll("GET /heal");
    partial.shutdownWrite();
    ASSERT_TRUE(partial.readUntilClosed());
    EXPECT_EQ(partial.received(), "");
    server.setWorkflowStore(nullptr);
}

TEST_F(MCPServerTest, AcceptErrorsPauseAcceptingAndTheListenerStays) {
    std::vector<AppLogger::Record> records;
    AppLogger::setSink([&](const AppLogger::Record& r) { records.push_back(r); });
    server.setLimits({10'000, 256, 64u << 20, 50, 2'000});
    server.start();
    QSignalSpy listening(&server, &MCPServer::isListeningChanged);

    // The client is queued by the kernel; then the process runs out of descriptors.
    LoopbackClient client(server.port());
    client.write(httpRequest("GET", "/health"));
    rlimit original{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &original), 0);
    std::vector<UniqueFd> fillers;
    const int lowestFree = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ASSERT_GE(lowestFree, 0);
    fillers.emplace_back(lowestFree);
    rlimit lowered = original;
    lowered.rlim_cur = static_cast<rlim_t>(lowestFree + 8);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &lowered), 0);
    for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;) {
        fillers.emplace_back(fd);
    }
    testing::pumpEvents(300);
    const bool pausedWhileOut = server.acceptingPaused();
    fillers.clear();
    ::setrlimit(RLIMIT_NOFILE, &original);

    EXPECT_TRUE(pausedWhileOut);
    EXPECT_EQ(client.received(), "");
    EXPECT_TRUE(server.isListening());
    ASSERT_TRUE(client.waitClosed());
    EXPECT_EQ(client.reply().status, 200);
    EXPECT_TRUE(server.isListening());
    EXPECT_EQ(listening.count(), 0);
    EXPECT_FALSE(server.acceptingPaused());
    const auto warned = std::count_if(records.begin(), records.end(), [](const AppLogger::Record& r) {
        return r.message == "MCP accept failed: Too many open files — retrying in 50 ms";
    });
    EXPECT_EQ(warned, 1) << "one warning per pause, not one per retry";
    AppLogger::setSink({});
}

TEST_F(MCPServerTest, ATokenStoreThatFailsIsReportedAndAskedAgain) {
    // The keychain holds a token but cannot be read now (a locked keyring, a daemon that
    // times out): no new token may be made over it.
    auto failing = std::make_shared<testing::FakeKeychain>();
    failing->items[testing::FakeKeychain::tokenKey()] = token;
    failing->failReads = Keychain::interactionNotAllowedStatus;
    MCPServer other(store, failing);
    store.setMcpPort(freePort());
    other.start();
    ASSERT_TRUE(other.isListening());

    auto reply = exchange(other.port(), httpRequest("GET", "/api/state", token));
    EXPECT_EQ(reply.statusLine, "HTTP/1.1 503 OK");
    EXPECT_NE(body(reply)["error"].get<std::string>().find("lookup failed (status -25308"), std::string::npos)
        << reply.body;
    EXPECT_EQ(exchange(other.port(), httpRequest("GET", "/health")).status, 200);
    EXPECT_EQ(failing->sets, 0);
    EXPECT_EQ(failing->items.size(), 1u);

    failing->failReads.reset(); // unlocked: the next request finds the token
    EXPECT_EQ(exchange(other.port(), httpRequest("GET", "/api/state", token)).status, 200);
    EXPECT_EQ(failing->sets, 0);
}

TEST_F(MCPServerTest, SilentConnectionsMeetTheirDeadline) {
    server.setLimits({300, 256});
    server.start();
    LoopbackClient idle(server.port());
    idle.write("GET /health HTTP/1.1\r\n"); // never finished
    EXPECT_TRUE(idle.waitClosed(3000));
    EXPECT_EQ(idle.received(), "");
    EXPECT_EQ(server.openConnectionCount(), 0);

    // Event streams are exempt.
    LoopbackClient stream(server.port());
    stream.write(httpRequest("GET", "/api/events", token));
    stream.pump(800);
    EXPECT_TRUE(stream.connected());
    EXPECT_EQ(server.eventStreamCount(), 1);
}

TEST_F(MCPServerTest, ConnectionsBeyondTheCapWaitForAFreeSlot) {
    server.setLimits({10'000, 2});
    server.start();
    LoopbackClient a(server.port()), b(server.port());
    a.write("GET /he");
    b.write("GET /he");
    a.pump(100);
    LoopbackClient c(server.port());
    c.write(httpRequest("GET", "/health"));
    c.pump(200);
    EXPECT_EQ(c.received(), "") << "served beyond the cap";
    EXPECT_EQ(server.openConnectionCount(), 2);
    a.close();
    ASSERT_TRUE(c.waitClosed());
    EXPECT_EQ(c.reply().status, 200);
}

TEST_F(MCPServerTest, StartClampsThePortAndReportsFailures) {
    EXPECT_EQ(MCPServer::clampedPort(80), 1024);
    EXPECT_EQ(MCPServer::clampedPort(70000), 65535);
    EXPECT_EQ(MCPServer::clampedPort(-1), 1024);
    EXPECT_EQ(MCPServer::clampedPort(7392), 7392);

    QTcpServer blocker;
    ASSERT_TRUE(blocker.listen(QHostAddress::LocalHost, freePort()));
    QSignalSpy listening(&server, &MCPServer::isListeningChanged);
    store.setMcpPort(blocker.serverPort());
    server.start();
    EXPECT_FALSE(server.isListening());
    EXPECT_FALSE(server.lastError().isEmpty());
    EXPECT_EQ(listening.count(), 1); // true -> false

    server.stop();
    server.stop();
    EXPECT_FALSE(server.lastError().isEmpty()) << "stop leaves lastError alone";
    blocker.close();
    server.start();
    EXPECT_TRUE(server.isListening());
    EXPECT_TRUE(server.lastError().isNull());
}

TEST_F(MCPServerTest, TokenIsMadeOnceAndKept) {
    keychain->items.clear();
    auto fresh = std::make_shared<testing::FakeKeychain>();
    MCPServer other(store, fresh);
    store.setMcpPort(freePort());
    other.start();
    ASSERT_EQ(fresh->items.size(), 1u);
    const std::string made = fresh->items.begin()->second;
    EXPECT_EQ(made.size(), 64u);
    fresh->items.clear(); // the running server keeps its token in memory
    EXPECT_EQ(exchange(other.port(), httpRequest("GET", "/api/state", made)).status, 200);
}

TEST_F(MCPServerTest, RestartPipelineDebouncesAndSkipsRoundTrips) {
    server.stop();
    store.setMcpEnabled(false);
    MCPRestartPipeline pipeline(store, server, 100);
    QSignalSpy listening(&server, &MCPServer::isListeningChanged);

    store.setMcpEnabled(true);
    store.setMcpEnabled(false); // back where it started within the debounce
    testing::pumpEvents(250);
    EXPECT_EQ(listening.count(), 0);

    const quint16 port = freePort();
    store.setMcpEnabled(true);
    store.setMcpPort(port);
    testing::pumpEvents(250);
    EXPECT_TRUE(server.isListening());
    EXPECT_EQ(server.port(), port);
    EXPECT_EQ(listening.count(), 1); // started once, not once per change

    store.setMcpEnabled(false);
    testing::pumpEvents(250);
    EXPECT_FALSE(server.isListening());
}

} // namespace
} // namespace perchwell
