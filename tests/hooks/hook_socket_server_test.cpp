#include "hooks/hook_command.h"
#include "hooks/hook_socket_server.h"
#include "platform/defaults_domain.h"
#include "platform/paths.h"
#include "support/log_capture.h"
#include "support/temp_home.h"
#include "support/unix_sockets.h"
#include "support/wait_for.h"

#include <arpa/inet.h>
#include <atomic>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <gtest/gtest.h>
#include <optional>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace perchwell {
namespace {

using namespace std::chrono_literals;
using testing::connectTo;
using testing::LogCapture;
using testing::waitFor;

void sendAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

std::string lengthPrefix(uint32_t length) {
    const uint32_t network = htonl(length);
    return std::string(reinterpret_cast<const char*>(&network), 4);
}

// Everything the server sends until it closes.
std::string readToEnd(int fd) {
    std::string data;
    char buffer[4096];
    ssize_t n;
    while ((n = ::recv(fd, buffer, sizeof(buffer), 0)) > 0) {
        data.append(buffer, static_cast<size_t>(n));
    }
    return data;
}

// The response payload, or nothing when the server closed without one.
std::optional<std::string> unframe(const std::string& raw) {
    if (raw.size() < 4) {
        return std::nullopt;
    }
    uint32_t network = 0;
    std::memcpy(&network, raw.data(), 4);
    const std::string payload = raw.substr(4);
    EXPECT_EQ(ntohl(network), payload.size());
    return payload;
}

std::optional<std::string> ask(const std::string& path, const std::string& payload) {
    const int fd = connectTo(path);
    if (fd < 0) {
        return std::nullopt;
    }
    sendAll(fd, lengthPrefix(static_cast<uint32_t>(payload.size())) + payload);
    auto answer = unframe(readToEnd(fd));
    ::close(fd);
    return answer;
}

std::string expectedAnswer(const std::string& payload) {
    DefaultsDomain defaults = DefaultsDomain::standard();
    const auto settings = HookSettings::fromUserDefaults(defaults);
    return HookCommand::formatDecisionJSON(HookCommand::decide(
        payload, settings, HookCommand::sessionPolicy(HookCommand::extractSessionId(payload))));
}

std::vector<std::string> hookLogLines() {
    std::istringstream in(testing::readFile(HookCommand::hookEventsLogPath()));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

class HookSocketServerTest : public ::testing::Test {
protected:
    HookSocketServer::Options options(size_t workers = 4, std::chrono::milliseconds timeout = 2s) {
        HookSocketServer::Options o;
        o.socketPath = HookSocketServer::defaultSocketPath();
        o.workerCount = workers;
        o.ioTimeout = timeout;
        return o;
    }
    size_t warnings(const std::string& message) { return logs.count("hook-sock", message); }

    testing::TempHome home;
    LogCapture logs;
};

std::string bash(const std::string& command, const std::string& event = "PreToolUse") {
    return R"({"hook_event_name":")" + event + R"(","session_id":"s-1","tool_name":"Bash","cwd":"/w",)" +
           R"("tool_input":{"command":")" + command + R"("}})";
}

TEST_F(HookSocketServerTest, ListensInTheDataDirectoryOwnerOnlyAndRemovesItsFileWhenStopped) {
    HookSocketServer server(options());
    EXPECT_EQ(server.socketPath(), Paths::dataFile("hook.sock"));
    ASSERT_TRUE(server.start());
    EXPECT_TRUE(server.running());
    struct stat st {};
    ASSERT_EQ(::stat(server.socketPath().c_str(), &st), 0);
    EXPECT_TRUE(S_ISSOCK(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(logs.count("hook-sock", "listening on " + server.socketPath()), 1u);
    server.stop();
    EXPECT_FALSE(server.running());
    EXPECT_FALSE(std::filesystem::exists(server.socketPath()));
    EXPECT_EQ(logs.count("hook-sock", "stopped"), 1u);
    EXPECT_FALSE(ask(server.socketPath(), bash("ls")));
}

TEST_F(HookSocketServerTest, AnswersLikeTheHookProcessAndLogsEachRequestOnce) {
    HookSocketServer server(options());
    ASSERT_TRUE(server.start());
    const std::string payloads[] = {
        bash("ls -la"),
        bash("rm -rf /"),
        bash("cat ~/.ssh/id_rsa"),
        bash("git push --force push"),
        // Every payload is judged as PreToolUse, whatever event it names.
        bash("ls", "Stop"),
        bash("ls", "UserPromptSubmit"),
        "this is not json",
        "[1,2,3]",
    };
    for (const auto& payload : payloads) {
        const auto answer = ask(server.socketPath(), payload);
        ASSERT_TRUE(answer) << payload;
        EXPECT_EQ(*answer, expectedAnswer(payload)) << payload;
        EXPECT_NE(answer->find(R"("hookEventName":"PreToolUse")"), std::string::npos);
    }
    const auto lines = hookLogLines();
    ASSERT_EQ(lines.size(), std::size(payloads));
    EXPECT_NE(lines[1].find("\tdeny\tBash\tdeny:rm-root\t/w"), std::string::npos) << lines[1];
    EXPECT_NE(lines[6].find("\task\t\tparse-fail\t"), std::string::npos) << lines[6];
    EXPECT_EQ(*ask(server.socketPath(), "not json"),
              R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask",)"
              R"("permissionDecisionReason":"Perchwell: hook input not valid JSON"}})");
}

TEST_F(HookSocketServerTest, SettingsAndPoliciesAreReadPerRequest) {
    HookSocketServer server(options());
    ASSERT_TRUE(server.start());
    const std::string payload = bash("ls");
    EXPECT_NE(ask(server.socketPath(), payload)->find(R"("allow")"), std::string::npos);
    HookCommand::saveSessionPolicies({{"s-1", ReviewPolicyLevel::manual}});
    EXPECT_NE(ask(server.socketPath(), payload)->find("session policy = manual"), std::string::npos);
    HookCommand::saveSessionPolicies({});
    DefaultsDomain defaults = DefaultsDomain::standard();
    ASSERT_TRUE(defaults.set("pv.hookEnabled", false));
    EXPECT_NE(ask(server.socketPath(), payload)->find("Perchwell hook disabled"), std::string::npos);
}

TEST_F(HookSocketServerTest, FrameSizeLimits) {
    HookSocketServer server(options());
    ASSERT_TRUE(server.start());
    const uint32_t limit = HookSocketServer::maxPayloadBytes;
    ASSERT_EQ(limit, 2'097'152u);

    // Exactly the limit: a JSON object padded to 2 MiB is answered.
    const std::string head = R"({"tool_name":"Read","tool_input":{"file_path":"/tmp/a"},"pad":")";
    std::string maximal = head + std::string(limit - head.size() - 2, 'x') + "\"}";
    ASSERT_EQ(maximal.size(), limit);
    const auto answer = ask(server.socketPath(), maximal);
    ASSERT_TRUE(answer);
    EXPECT_EQ(*answer, expectedAnswer(maximal));

    // Zero and one past the limit are refused without an answer.
    for (const uint32_t length : {0u, limit + 1}) {
        const int fd = connectTo(server.socketPath());
        sendAll(fd, lengthPrefix(length));
        EXPECT_EQ(readToEnd(fd), "") << length;
        ::close(fd);
        EXPECT_EQ(warnings("client: payload size out of range: " + std::to_string(length)), 1u);
    }
    EXPECT_EQ(hookLogLines().size(), 1u);
}

TEST_F(HookSocketServerTest, EarlyDisconnectsAreLoggedAndNeverAnswered) {
    HookSocketServer server(options());
    ASSERT_TRUE(server.start());
    int fd = connectTo(server.socketPath());
    sendAll(fd, lengthPrefix(10) + "{\"a\"");
    ::close(fd);
    fd = connectTo(server.socketPath());
    sendAll(fd, std::string("\0\0", 2));
    ::close(fd);
    EXPECT_TRUE(waitFor([&] { return warnings("client: failed to read 10-byte payload") == 1; }));
    EXPECT_TRUE(waitFor([&] { return warnings("client: failed to read length prefix") == 1; }));
    EXPECT_TRUE(hookLogLines().empty());
}

TEST_F(HookSocketServerTest, IdleClientsAreCutOffAfterTheReadTimeout) {
    HookSocketServer server(options(2, 300ms));
    ASSERT_TRUE(server.start());
    const int silent = connectTo(server.socketPath());
    const int slow = connectTo(server.socketPath());
    sendAll(slow, lengthPrefix(100) + "{");
    // The server closes both: reading sees the end without any answer.
    EXPECT_EQ(readToEnd(silent), "");
    EXPECT_EQ(readToEnd(slow), "");
    ::close(silent);
    ::close(slow);
    EXPECT_TRUE(waitFor([&] { return warnings("client: failed to read length prefix") == 1; }));
    EXPECT_TRUE(waitFor([&] { return warnings("client: failed to read 100-byte payload") == 1; }));
}

TEST_F(HookSocketServerTest, ManyConcurrentClientsAreAnsweredWhileIdleClientsHoldConnections) {
    HookSocketServer server(options(4, 3s));
    ASSERT_TRUE(server.start());
    // Three connections that say nothing hold three of the four workers.
    std::vector<int> idle;
    for (int i = 0; i < 3; ++i) {
        idle.push_back(connectTo(server.socketPath()));
    }
    constexpr int clients = 48;
    std::vector<std::string> payloads;
    for (int i = 0; i < clients; ++i) {
        payloads.push_back(i % 3 == 0 ? bash("rm -rf / #" + std::to_string(i))
                                      : bash("echo " + std::to_string(i)));
    }
    std::vector<std::optional<std::string>> answers(clients);
    std::vector<std::thread> threads;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < clients; ++i) {
        threads.emplace_back([&, i] { answers[i] = ask(server.socketPath(), payloads[i]); });
    }
    for (auto& t : threads) {
        t.join();
    }
    // Served by the free worker, not after the idle clients' time-outs.
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2500ms);
    for (int i = 0; i < clients; ++i) {
        ASSERT_TRUE(answers[i]) << i;
        EXPECT_EQ(*answers[i], expectedAnswer(payloads[i])) << i;
    }
    EXPECT_EQ(hookLogLines().size(), static_cast<size_t>(clients));
    for (const int fd : idle) {
        ::close(fd);
    }
}

// Connections that say nothing wait on the I/O thread, not on a worker: with more of
// them than workers, requests are still answered long before the idle ones time out.
TEST_F(HookSocketServerTest, IdleConnectionsHoldNoWorker) {
    HookSocketServer server(options(4, 20s));
    ASSERT_TRUE(server.start());
    std::vector<int> idle;
    for (int i = 0; i < 64; ++i) {
        idle.push_back(connectTo(server.socketPath()));
        ASSERT_GE(idle.back(), 0);
    }
    sendAll(idle[0], lengthPrefix(100) + "{\"tool_name\""); // and one that stops half-way
    constexpr int requests = 50;
    std::vector<std::optional<std::string>> answers(requests);
    std::vector<std::thread> threads;
    const auto started = std::chrono::steady_clock::now();
    for (int i = 0; i < requests; ++i) {
        threads.emplace_back(
            [&, i] { answers[i] = ask(server.socketPath(), bash("echo " + std::to_string(i))); });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s); // the idle ones wait 20 s
    for (int i = 0; i < requests; ++i) {
        ASSERT_TRUE(answers[i]) << i;
        EXPECT_EQ(*answers[i], expectedAnswer(bash("echo " + std::to_string(i)))) << i;
    }
    EXPECT_EQ(hookLogLines().size(), static_cast<size_t>(requests));
    // All still open: nothing was closed to make room.
    for (const int fd : idle) {
        char byte;
        EXPECT_EQ(::recv(fd, &byte, 1, MSG_DONTWAIT), -1);
        EXPECT_EQ(errno, EAGAIN);
        ::close(fd);
    }
}

TEST_F(HookSocketServerTest, AFullQueueRefusesAtOnce) {
    auto o = options(1, 3s);
    o.maxPendingConnections = 2;
    HookSocketServer server(o);
    ASSERT_TRUE(server.start());
    // Two connections still owing their request fill the two places.
    std::vector<int> idle;
    idle.push_back(connectTo(server.socketPath()));
    idle.push_back(connectTo(server.socketPath()));
    std::this_thread::sleep_for(100ms);
    const int refused = connectTo(server.socketPath());
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(readToEnd(refused), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, 1s);
    EXPECT_EQ(warnings("client: too many pending connections (2) — closing"), 1u);
    ::close(refused);
    for (const int fd : idle) {
        ::close(fd);
    }
}

TEST_F(HookSocketServerTest, StopCutsOffWaitingClientsPromptly) {
    HookSocketServer server(options(2, 30s));
    ASSERT_TRUE(server.start());
    const int idle = connectTo(server.socketPath());
    std::this_thread::sleep_for(50ms);
    const auto started = std::chrono::steady_clock::now();
    server.stop();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    EXPECT_EQ(readToEnd(idle), "");
    ::close(idle);
}

// A client that gave up has shut its reading side (and its fallback logs the event):
// the answer is never delivered, so it is not logged, and the failed write never
// raises SIGPIPE.
TEST_F(HookSocketServerTest, AnswersThatCannotBeDeliveredAreNotLoggedAndRaiseNoSigpipe) {
    // Default disposition: a SIGPIPE would end this test process.
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    HookSocketServer server(options());
    ASSERT_TRUE(server.start());
    const std::string payload = bash("ls");
    for (int i = 0; i < 50; ++i) {
        const int fd = connectTo(server.socketPath());
        ::shutdown(fd, SHUT_RD);
        sendAll(fd, lengthPrefix(static_cast<uint32_t>(payload.size())) + payload);
        if (i % 2 == 0) {
            ::close(fd);
        } else {
            std::this_thread::sleep_for(5ms);
        }
    }
    const std::string failed =
        "client: failed to write " + std::to_string(expectedAnswer(payload).size() + 4) + "-byte response";
    EXPECT_TRUE(waitFor([&] { return warnings(failed) == 50; })) << warnings(failed);
    EXPECT_TRUE(hookLogLines().empty());
    EXPECT_TRUE(ask(server.socketPath(), payload));
    EXPECT_EQ(hookLogLines().size(), 1u);
    server.stop();
    std::signal(SIGPIPE, previous);
}

TEST_F(HookSocketServerTest, LeftoverFileAtTheSocketPathIsReplaced) {
    const std::string path = HookSocketServer::defaultSocketPath();
    for (const bool socketFile : {true, false}) {
        if (socketFile) {
            ASSERT_TRUE(testing::leaveStaleSocket(path));
        } else {
            testing::writeFile(path, "left over");
        }
        ASSERT_TRUE(std::filesystem::exists(path));
        HookSocketServer server(options());
        ASSERT_TRUE(server.start());
        EXPECT_TRUE(ask(server.socketPath(), bash("ls"))) << socketFile;
    }
}

TEST_F(HookSocketServerTest, SocketPathLongerThanTheAddressFieldDisablesTheServer) {
    const size_t field = sizeof(sockaddr_un::sun_path);
    // One byte too long once the terminating NUL is counted; one shorter still fits.
    const std::string base = home.path() + "/";
    for (const size_t length : {field, field - 1}) {
        auto o = options();
        o.socketPath = base + std::string(length - base.size(), 's');
        ASSERT_EQ(o.socketPath.size(), length);
        HookSocketServer server(o);
        const auto started = server.start();
        if (length + 1 > field) {
            ASSERT_FALSE(started);
            EXPECT_FALSE(server.running());
            const std::string message = "socket path too long (" + std::to_string(length + 1) + "/" +
                                        std::to_string(field) + "): " + o.socketPath;
            EXPECT_EQ(started.error().message, message);
            EXPECT_EQ(logs.count("hook-sock", message), 1u);
        } else {
            EXPECT_TRUE(started) << started.error().message;
        }
    }
}

TEST_F(HookSocketServerTest, BindFailureIsReported) {
    auto o = options();
    o.socketPath = home.path() + "/missing-parent-is-a-file/hook.sock";
    testing::writeFile(home.path() + "/missing-parent-is-a-file", "x");
    HookSocketServer server(o);
    const auto started = server.start();
    ASSERT_FALSE(started);
    EXPECT_EQ(started.error().message.rfind("bind() failed errno=", 0), 0u) << started.error().message;
}

} // namespace
} // namespace perchwell
