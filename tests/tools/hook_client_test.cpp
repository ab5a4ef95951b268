#include "hook_client.h"
#include "hooks/hook_command.h"
#include "hooks/hook_socket_server.h"
#include "platform/defaults_domain.h"
#include "support/process.h"
#include "support/temp_home.h"

#include <arpa/inet.h>
#include <cstring>
#include <filesystem>
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
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
        ::unlink(path_.c_str());
        EXPECT_EQ(::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
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

class HookClientProcessTest : public ::testing::Test {
protected:
    testing::ProcessResult runClient(const std::string& input, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> argv{binaryPath("pv-hook-client")};
        argv.insert(argv.end(), extra.begin(), extra.end());
        const auto started = std::chrono::steady_clock::now();
        auto result = runProcess(argv, input);
        elapsed = std::chrono::steady_clock::now() - started;
        return result;
    }

    testing::TempHome home;
    std::chrono::steady_clock::duration elapsed{};
};

TEST_F(HookClientProcessTest, PrintsTheServersAnswerAndALineFeed) {
    HookSocketServer server;
    ASSERT_TRUE(server.start());
    const auto result = runClient(preToolUse);
    EXPECT_EQ(result.exitCode, HookClient::exitAnswered) << result.err;
    DefaultsDomain defaults = DefaultsDomain::standard();
    const auto settings = HookSettings::fromUserDefaults(defaults);
    EXPECT_EQ(result.out, HookCommand::formatDecisionJSON(
                              HookCommand::decide(preToolUse, settings, ReviewPolicyLevel::global)) +
                              "\n");
}

TEST_F(HookClientProcessTest, FailsAtOnceWithNothingPrintedWhenItCannotAnswer) {
    const struct {
        std::string name;
        std::string input;
        int exitCode;
    } cases[] = {
        {"no server", preToolUse, HookClient::exitFailed},
        {"empty input", "", HookClient::exitFailed},
        {"other event", R"({"hook_event_name":"Stop","session_id":"s"})", HookClient::exitNotForSocket},
        {"too large", std::string(2'097'153, ' '), HookClient::exitFailed},
    };
    for (const auto& c : cases) {
        const auto result = runClient(c.input);
        EXPECT_EQ(result.exitCode, c.exitCode) << c.name;
        EXPECT_EQ(result.out, "") << c.name;
        EXPECT_LT(elapsed, 1500ms) << c.name; // well before the 2 s default time-out
    }
}

TEST_F(HookClientProcessTest, OtherEventsNeverReachTheSocket) {
    bool contacted = false;
    {
        FakeServer server(HookClient::defaultOptions().socketPath, [&](int) { contacted = true; });
        const auto result = runClient(R"({"hook_event_name":"UserPromptSubmit"})");
        EXPECT_EQ(result.exitCode, HookClient::exitNotForSocket);
    }
    EXPECT_FALSE(contacted);
}

TEST_F(HookClientProcessTest, GivesUpOnAHungServerAfterItsTimeout) {
    FakeServer server(HookClient::defaultOptions().socketPath, [](int fd) {
        char buffer[4096];
        // Read the request, never answer, hold the connection a while.
        [[maybe_unused]] const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        std::this_thread::sleep_for(1500ms);
    });
    const auto result = runClient(preToolUse, {"--timeout-ms", "300"});
    EXPECT_EQ(result.exitCode, HookClient::exitFailed);
    EXPECT_EQ(result.out, "");
    EXPECT_GE(elapsed, 250ms);
    EXPECT_LT(elapsed, 1200ms);
}

TEST_F(HookClientProcessTest, RejectsAnAnswerThatIsNotAJsonObject) {
    FakeServer server(HookClient::defaultOptions().socketPath, [](int fd) {
        char buffer[4096];
        [[maybe_unused]] const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        const std::string garbage = "garbage";
        const uint32_t length = htonl(static_cast<uint32_t>(garbage.size()));
        ::send(fd, &length, 4, MSG_NOSIGNAL);
        ::send(fd, garbage.data(), garbage.size(), MSG_NOSIGNAL);
    });
    const auto result = runClient(preToolUse);
    EXPECT_EQ(result.exitCode, HookClient::exitFailed);
    EXPECT_EQ(result.out, "");
}

} // namespace
} // namespace perchwell
