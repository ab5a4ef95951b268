#include "hook_client.h"
#include "hooks/hook_command.h"
#include "hooks/hook_socket_server.h"
#include "platform/defaults_domain.h"
#include "support/process.h"
#include "support/temp_home.h"
#include "support/unix_sockets.h"
#include "support/wait_for.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace perchwell {
namespace {

using namespace std::chrono_literals;
using testing::binaryPath;
using testing::runProcess;

const std::string preToolUse =
    R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":"Bash","tool_input":{"command":"rm -rf /"}})";

TEST(HookClientTest, OnlyPreToolUseEventsGoToTheSocket) {
    const struct {
        std::string input;
        bool forSocket;
    } cases[] = {
        {preToolUse, true},
        {R"({"tool_name":"Bash"})", true},        // no event name: the hook treats it as PreToolUse
        {"not json at all", true},                // judged "ask", same as the hook process
        {R"({"hook_event_name":"Stop"})", false}, // would get a tool-use decision back
        {R"({"hook_event_name":"UserPromptSubmit","prompt":"hi"})", false},
        {R"({"hook_event_name":"pretooluse"})", false},
        {R"({"hook_event_name":7})", false},
        {R"({"hook_event_name":null})", false},
        {R"({"hook_event_name":{"name":"PreToolUse"}})", false},
        // Only the top-level member counts.
        {R"({"tool_input":{"hook_event_name":"Stop"},"hook_event_name":"PreToolUse"})", true},
        {R"({"tool_input":{"hook_event_name":"PreToolUse"},"hook_event_name":"Stop"})", false},
        {R"({"tool_input":{"hook_event_name":"Stop"}})", true},
        {R"([{"hook_event_name":"Stop"}])", true},
        {R"("Stop")", true},
        // Decided at the event name; whatever follows is the fallback's or the server's business.
        {R"({"hook_event_name":"Stop","tool_input":)", false},
        {R"({"hook_event_name":"PreToolUse","tool_input":)", true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(HookClient::isForSocket(c.input), c.forSocket) << c.input;
    }
}

// A listening socket whose single connection is handled by `serve`.
class FakeServer {
public:
    explicit FakeServer(std::string path, std::function<void(int)> serve) : path_(std::move(path)) {
        std::filesystem::create_directories(std::filesystem::path(path_).parent_path());
        fd_ = ::socket(AF_UNIX, SOCK_STREAM, 0);
        const auto address = unixSocketAddress(path_);
        ::unlink(path_.c_str());
        EXPECT_TRUE(address &&
                    ::bind(fd_, reinterpret_cast<const sockaddr*>(&*address), sizeof(*address)) == 0);
        EXPECT_EQ(::listen(fd_, 4), 0);
        thread_ = std::thread([this, serve = std::move(serve)] {
            const int client = ::accept(fd_, nullptr, nullptr);
            if (client >= 0) {
                serve(client);
                ::close(client);
            }
        });
    }
    ~FakeServer() {
        ::shutdown(fd_, SHUT_RDWR);
        thread_.join();
        ::close(fd_);
        ::unlink(path_.c_str());
    }

private:
    std::string path_;
    int fd_ = -1;
    std::thread thread_;
};

size_t hookLogLineCount() {
    const std::string log = testing::readFile(HookCommand::hookEventsLogPath());
    return static_cast<size_t>(std::count(log.begin(), log.end(), '\n'));
}

std::string paddedPreToolUse(size_t size) {
    const std::string head =
        R"({"hook_event_name":"PreToolUse","tool_name":"Write","tool_input":{"content":")";
    const std::string tail = R"("}})";
    return head + std::string(size - head.size() - tail.size(), 'a') + tail;
}

class HookClientProcessTest : public ::testing::Test {
protected:
    // Runs the client on `input` and checks what every run must give: exit status 0,
    // exactly one new line in the hook event log, and the answer `perchwell hook`
    // prints for the same input. `settle` runs before the log is counted (to let a
    // server finish what it is doing).
    void expectAnsweredOnceLikeTheHook(const std::string& name, const std::string& input,
                                       const std::vector<std::string>& extra = {}, bool closeStdout = false,
                                       const std::function<void()>& settle = {}) {
        SCOPED_TRACE(name);
        const size_t before = hookLogLineCount();
        std::vector<std::string> argv{binaryPath("pv-hook-client")};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const auto started = std::chrono::steady_clock::now();
        const auto result = runProcess(argv, input, closeStdout);
        elapsed = std::chrono::steady_clock::now() - started;
        if (settle) {
            settle();
        }
        EXPECT_EQ(result.termSignal, 0);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        // The application logs just after its answer went out: give it a moment.
        EXPECT_TRUE(testing::waitFor([&] { return hookLogLineCount() > before; }));
        EXPECT_EQ(hookLogLineCount() - before, 1u);
        if (!closeStdout) {
            const auto hook = runProcess({binaryPath("perchwell"), "hook"}, input);
            EXPECT_EQ(result.out, hook.out);
            EXPECT_FALSE(result.out.empty());
        }
    }

    testing::TempHome home;
    std::chrono::steady_clock::duration elapsed{};
};

TEST_F(HookClientProcessTest, ARunningApplicationAnswersAndLogs) {
    HookSocketServer server;
    ASSERT_TRUE(server.start());
    expectAnsweredOnceLikeTheHook("answered", preToolUse);
    expectAnsweredOnceLikeTheHook("exactly the request size limit", paddedPreToolUse(2'097'152));
    expectAnsweredOnceLikeTheHook("standard output closed", preToolUse, {}, /*closeStdout=*/true);
}

TEST_F(HookClientProcessTest, WithoutAnApplicationTheHookAnswers) {
    const struct {
        const char* name;
        std::string input;
        bool closeStdout;
    } cases[] = {
        {"tool use", preToolUse, false},
        {"Stop event", R"({"hook_event_name":"Stop","session_id":"s","cwd":"/w"})", false},
        {"empty input", "", false},
        {"not JSON", "not json at all", false},
        {"2 MiB input", paddedPreToolUse(2'097'152), false},
        {"over the request size limit", paddedPreToolUse(3 * 1024 * 1024), false},
        {"standard output closed", preToolUse, true},
    };
    for (const auto& c : cases) {
        expectAnsweredOnceLikeTheHook(c.name, c.input, {}, c.closeStdout);
        EXPECT_LT(elapsed, 1500ms) << c.name; // never waits for the 2 s time-out
    }
}

TEST_F(HookClientProcessTest, ASocketNobodyListensOnFallsBackAtOnce) {
    const std::string path = HookClient::defaultOptions().socketPath;
    ASSERT_TRUE(testing::leaveStaleSocket(path));
    expectAnsweredOnceLikeTheHook("stale socket", preToolUse);
    EXPECT_LT(elapsed, 1500ms);
}

TEST_F(HookClientProcessTest, OtherEventsNeverReachTheSocket) {
    HookSocketServer server;
    ASSERT_TRUE(server.start());
    expectAnsweredOnceLikeTheHook("Stop", R"({"hook_event_name":"Stop","session_id":"s"})");
    expectAnsweredOnceLikeTheHook("UserPromptSubmit", R"({"hook_event_name":"UserPromptSubmit"})");
}

TEST_F(HookClientProcessTest, AnApplicationAnsweringPastTheDeadlineIsNotCountedTwice) {
    HookSocketServer::Options options;
    options.settingsProvider = [] {
        std::this_thread::sleep_for(800ms);
        return HookSettings{};
    };
    HookSocketServer server(options);
    ASSERT_TRUE(server.start());
    expectAnsweredOnceLikeTheHook("slow application", preToolUse, {"--timeout-ms", "200"}, false,
                                  [&] { server.stop(); });
    EXPECT_LT(elapsed, 700ms);
}

TEST_F(HookClientProcessTest, AnAnswerThatIsNotAJsonObjectIsNotTrusted) {
    FakeServer server(HookClient::defaultOptions().socketPath, [](int fd) {
        char buffer[4096];
        [[maybe_unused]] const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        const std::string garbage = "garbage";
        const uint32_t length = htonl(static_cast<uint32_t>(garbage.size()));
        ::send(fd, &length, 4, MSG_NOSIGNAL);
        ::send(fd, garbage.data(), garbage.size(), MSG_NOSIGNAL);
    });
    expectAnsweredOnceLikeTheHook("garbage answer", preToolUse);
}

TEST_F(HookClientProcessTest, WithoutAHookToRunItAsksAndExitsZero) {
    const struct {
        const char* name;
        std::string input;
        std::string answer;
    } cases[] = {
        {"tool use", preToolUse,
         R"({"hookSpecificOutput":{"hookEventName":"PreToolUse","permissionDecision":"ask",)"
         R"("permissionDecisionReason":"Perchwell: hook unavailable — defer to user"}})"},
        {"other event", R"({"hook_event_name":"Sto\"p"})",
         R"({"hookSpecificOutput":{"hookEventName":"Sto\"p"}})"},
    };
    for (const auto& c : cases) {
        const auto result =
            runProcess({binaryPath("pv-hook-client"), "--exe", home.path() + "/no-such-perchwell"}, c.input);
        EXPECT_EQ(result.exitCode, 0) << c.name;
        EXPECT_EQ(result.out, c.answer + "\n") << c.name;
    }
}

} // namespace
} // namespace perchwell
