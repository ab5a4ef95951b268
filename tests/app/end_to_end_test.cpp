// The application role as a process: `perchwell --headless` in a temporary HOME with
// a small transcript tree, asked over its socket and stopped with SIGTERM.
#include "common/file_util.h"
#include "common/unique_fd.h"
#include "platform/paths.h"
#include "support/private_bus.h"
#include "support/process.h"
#include "support/temp_home.h"
#include "support/wait_for.h"

#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <nlohmann/json.hpp>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace perchwell {
namespace {

using namespace std::chrono_literals;
using testing::binaryPath;
using testing::runProcess;
using testing::waitFor;

// The application in the background, its standard error kept for the assertions.
class Background : public testing::BackgroundProcess {
public:
    Background(const std::vector<std::string>& argv, std::string errPath)
        : BackgroundProcess(argv, errPath), errPath_(std::move(errPath)) {}
    std::string err() const { return testing::readFile(errPath_); }

private:
    std::string errPath_;
};

int countRows(const std::string& db, const std::string& sql) {
    sqlite3* handle = nullptr;
    int count = -1;
    if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        sqlite3_busy_timeout(handle, 1000);
        sqlite3_stmt* statement = nullptr;
        if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &statement, nullptr) == SQLITE_OK &&
            sqlite3_step(statement) == SQLITE_ROW) {
            count = sqlite3_column_int(statement, 0);
        }
        sqlite3_finalize(statement);
    }
    sqlite3_close(handle);
    return count;
}

std::string userLine(const std::string& uuid, const std::string& text) {
    return R"({"type":"user","uuid":")" + uuid +
           R"(","sessionId":"0f1e2d3c-aaaa-bbbb-cccc-000000000001","timestamp":"2026-12-06T10:00:00Z",)" +
           R"("cwd":"/home/u/proj","message":{"role":"user","content":")" + text + "\"}}\n";
}

void append(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::app | std::ios::binary);
    out << text;
}

// The installed hook command line, as the hook installer writes it.
std::string hookCommandLine() {
    return "T=$(mktemp); cat > \"$T\"; \"" + binaryPath("pv-hook-client") + "\" < \"$T\" || \"" +
           binaryPath("perchwell") + "\" hook < \"$T\"; r=$?; rm -f \"$T\"; exit $r";
}

struct Answers {
    testing::ProcessResult client, command, hook;
};

Answers askAllThree(const std::string& input) {
    return {runProcess({binaryPath("pv-hook-client")}, input),
            runProcess({"/bin/sh", "-c", hookCommandLine()}, input),
            runProcess({binaryPath("perchwell"), "hook"}, input)};
}

TEST(EndToEndTest, HeadlessApplicationIngestsAnswersHooksAndCleansUp) {
    testing::TempHome home;
    const std::string project = Paths::claudeDirectory() + "/projects/-home-u-proj";
    const std::string transcript = project + "/0f1e2d3c-aaaa-bbbb-cccc-000000000001.jsonl";
    testing::writeFile(transcript, userLine("u-1", "first prompt"));
    const std::string socket = Paths::dataFile("hook.sock");
    const std::string db = Paths::dataFile("workflow.db");

    Background app({binaryPath("perchwell"), "--headless"}, home.path() + "/app.err");
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(socket); })) << app.err();

    // The back-fill stores the existing line; an appended line follows.
    ASSERT_TRUE(waitFor([&] {
        return countRows(db, "SELECT count(*) FROM user_prompts WHERE uuid='u-1'") == 1;
    })) << app.err();
    append(transcript, userLine("u-2", "second prompt"));
    EXPECT_TRUE(waitFor([&] {
        return countRows(db, "SELECT count(*) FROM user_prompts WHERE uuid='u-2'") == 1;
    })) << app.err();

    // The socket path answers exactly as the hook process does.
    const std::string inputs[] = {
        R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":"Bash","tool_input":{"command":"ls"},"cwd":"/w"})",
        R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":"Bash","tool_input":{"command":"rm -rf /"}})",
        R"({"hook_event_name":"PreToolUse","tool_name":"Write","tool_input":{"file_path":"~/.ssh/config"}})",
    };
    for (const auto& input : inputs) {
        const auto answers = askAllThree(input);
        EXPECT_EQ(answers.client.exitCode, 0) << input;
        EXPECT_EQ(answers.hook.exitCode, 0);
        EXPECT_EQ(answers.command.exitCode, 0);
        EXPECT_EQ(answers.client.out, answers.hook.out) << input;
        EXPECT_EQ(answers.command.out, answers.hook.out) << input;
    }
    // Other events go to the hook, which the client runs itself.
    const auto stop = askAllThree(R"({"hook_event_name":"Stop","session_id":"s"})");
    EXPECT_EQ(stop.client.exitCode, 0);
    EXPECT_EQ(stop.client.out, stop.hook.out);
    EXPECT_EQ(stop.command.out, "{\"hookSpecificOutput\":{\"hookEventName\":\"Stop\"}}\n");
    EXPECT_EQ(stop.command.out, stop.hook.out);

    // A second start says so and leaves the first one alone.
    const auto second = runProcess({binaryPath("perchwell"), "--headless"});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_NE(second.err.find("another instance is already running"), std::string::npos) << second.err;
    EXPECT_TRUE(std::filesystem::exists(socket));
    EXPECT_EQ(runProcess({binaryPath("pv-hook-client")}, inputs[0]).exitCode, 0);

    // SIGTERM: an orderly quit that removes the socket file.
    EXPECT_EQ(app.stop(SIGTERM), 0) << app.err();
    EXPECT_FALSE(std::filesystem::exists(socket));
    EXPECT_NE(app.err().find("[pv:hook-sock][I] stopped"), std::string::npos) << app.err();

    // Without the application the client and the command line still answer, through the hook.
    const auto after = askAllThree(inputs[1]);
    EXPECT_EQ(after.client.exitCode, 0);
    EXPECT_EQ(after.client.out, after.hook.out);
    EXPECT_EQ(after.command.exitCode, 0);
    EXPECT_EQ(after.command.out, after.hook.out);
}

// A loopback port nobody listens on right now.
uint16_t freePort() {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return 0;
    }
    return ntohs(address.sin_port);
}

struct HttpAnswer {
    int status = 0;                                 // 0: no answer
    nlohmann::json body = nlohmann::json::object(); // empty unless the answer was a JSON object
};

// One request on a fresh connection to the local API, read until the server closes it.
HttpAnswer http(uint16_t port, const std::string& method, const std::string& target, const std::string& token,
                const std::string& body = {}) {
    UniqueFd fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    const timeval patience{5, 0};
    ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &patience, sizeof patience);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return {};
    }
    const std::string request =
        method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " + token +
        "\r\nContent-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" +
        body;
    const auto reply = files::writeAll(fd.get(), request) ? files::readAll(fd.get()) : std::nullopt;
    const size_t headEnd = reply ? reply->find("\r\n\r\n") : std::string::npos;
    if (headEnd == std::string::npos || reply->compare(0, 9, "HTTP/1.1 ") != 0) {
        return {};
    }
    HttpAnswer answer{std::atoi(reply->c_str() + 9)};
    if (auto body = nlohmann::json::parse(reply->substr(headEnd + 4), nullptr, false); body.is_object()) {
        answer.body = std::move(body);
    }
    return answer;
}

TEST(EndToEndTest, SettingsEditedWhileRunningAreFollowedAndSurviveAPauseFromTheApi) {
    testing::TempHome home;
    // The token stays in the temporary home: no session bus, so no keyring is asked.
    ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    const uint16_t port = freePort();
    ASSERT_NE(port, 0);
    const std::string settings = Paths::defaultsFile();
    testing::writeFile(settings, nlohmann::json{{"pv.mcpEnabled", true}, {"pv.mcpPort", port}}.dump());

    Background app({binaryPath("perchwell"), "--headless"}, home.path() + "/app.err");
    ASSERT_TRUE(waitFor([&] { return http(port, "GET", "/health", "").status == 200; })) << app.err();
    const auto tokenRun = runProcess({binaryPath("pv-token")});
    const std::string token = tokenRun.out.substr(0, tokenRun.out.find('\n'));
    ASSERT_EQ(http(port, "GET", "/api/state", token).body.value("safePromptOnly", false), true) << app.err();

    // By hand, in place, while the application runs; hard deny has no control in any
    // window and is written as text.
    auto edited = nlohmann::json::parse(testing::readFile(settings));
    edited["pv.hookHardDeny"] = "true";
    edited["pv.safePromptOnly"] = false;
    testing::writeFile(settings, edited.dump());

    // The running application publishes the change; the socket answers from the file.
    EXPECT_TRUE(waitFor([&] {
        return http(port, "GET", "/api/state", token).body.value("safePromptOnly", true) == false;
    })) << app.err();
    const std::string rmRoot =
        R"({"hook_event_name":"PreToolUse","session_id":"s","tool_name":"Bash","tool_input":{"command":"rm -rf /"}})";
    const auto answers = askAllThree(rmRoot);
    EXPECT_EQ(answers.client.exitCode, 0);
    EXPECT_NE(answers.client.out.find(R"("permissionDecision":"deny")"), std::string::npos)
        << answers.client.out;
    EXPECT_EQ(answers.client.out, answers.hook.out);

    const auto paused = http(port, "POST", "/api/control", token, R"({"action":"pause"})");
    EXPECT_EQ(paused.status, 200);
    EXPECT_EQ(paused.body.value("state", ""), "paused") << paused.body.dump();
    const auto kept = nlohmann::json::parse(testing::readFile(settings));
    EXPECT_EQ(kept, (nlohmann::json{{"pv.mcpEnabled", true},
                                    {"pv.mcpPort", port},
                                    {"pv.hookHardDeny", "true"},
                                    {"pv.safePromptOnly", false},
                                    {"pv.enabled", false}}));
    EXPECT_EQ(http(port, "GET", "/api/state", token).body.value("enabled", true), false);
    EXPECT_EQ(app.stop(SIGTERM), 0) << app.err();
}

TEST(EndToEndTest, WithoutADisplayTheApplicationRunsHeadlessBySelf) {
    testing::TempHome home;
    ::unsetenv("DISPLAY");
    ::unsetenv("WAYLAND_DISPLAY");
    ::unsetenv("QT_QPA_PLATFORM");
    Background app({binaryPath("perchwell")}, home.path() + "/app.err");
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(Paths::dataFile("hook.sock")); })) << app.err();
    EXPECT_EQ(app.stop(SIGINT), 0);
    const std::string err = app.err();
    EXPECT_NE(err.find("[Perchwell] no display (DISPLAY and WAYLAND_DISPLAY unset) — running headless"),
              std::string::npos)
        << err;
    EXPECT_FALSE(std::filesystem::exists(Paths::dataFile("hook.sock")));
}

// Transcript activity keeps the machine awake through logind (a stand-in on a private
// bus here), and quitting lets go of it.
TEST(EndToEndTest, TranscriptActivityTakesTheInhibitorsAndQuittingReleasesThem) {
    testing::TempHome home;
    testing::PrivateBus bus;
    if (bus.address().empty()) {
        GTEST_SKIP() << "dbus-daemon could not be started";
    }
    const char* savedSession = ::getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string saved = savedSession != nullptr ? savedSession : "";
    bus.exportAsSystemAndSessionBus();
    const std::string logindLog = home.path() + "/logind.log";
    testing::BackgroundProcess logind({binaryPath("pv-fake-dbus-service"), "logind", logindLog});
    ASSERT_TRUE(waitFor([&] { return testing::readFile(logindLog) == "ready\n"; }, 10s));
    const auto closed = [&](int id) {
        return testing::readFile(logindLog).find("closed id=" + std::to_string(id) + "\n") !=
               std::string::npos;
    };

    const std::string transcript =
        Paths::claudeDirectory() + "/projects/-home-u-proj/0f1e2d3c-aaaa-bbbb-cccc-000000000001.jsonl";
    testing::writeFile(transcript, userLine("u-1", "first prompt"));
    Background app({binaryPath("perchwell"), "--headless"}, home.path() + "/app.err");
    ASSERT_TRUE(waitFor([&] {
        return countRows(Paths::dataFile("workflow.db"),
                         "SELECT count(*) FROM user_prompts WHERE uuid='u-1'") == 1;
    })) << app.err();
    EXPECT_EQ(testing::readFile(logindLog), "ready\n") << "history alone holds nothing";

    append(transcript, userLine("u-2", "second prompt"));
    EXPECT_TRUE(waitFor([&] {
        return app.err().find(
                   "[pv:workflow.keepalive][I] power assertion acquired kind=network id=2 source=user") !=
               std::string::npos;
    })) << app.err();
    EXPECT_NE(
        app.err().find("[pv:workflow.keepalive][I] power assertion acquired kind=idle id=1 source=user"),
        std::string::npos);
    const std::string held = testing::readFile(logindLog);
    EXPECT_NE(
        held.find("inhibit id=1 what=idle who=Perchwell mode=block why=Perchwell Agent Keepalive: active "
                  "Claude Code session 0f1e2d3c (idle sleep)"),
        std::string::npos)
        << held;
    EXPECT_NE(held.find("inhibit id=2 what=idle who=Perchwell mode=block"), std::string::npos) << held;
    EXPECT_EQ(held.find("closed"), std::string::npos) << held;
    // As a user would see it, where systemd's tool is installed.
    const auto listed = runProcess({"/bin/sh", "-c", "systemd-inhibit --list"});
    if (listed.exitCode != 127) {
        EXPECT_NE(listed.out.find("2 inhibitors listed."), std::string::npos) << listed.out << listed.err;
        EXPECT_NE(
            listed.out.find(
                "perchwell idle Perchwell Agent Keepalive: active Claude Code session 0f1e2d3c (idle sleep)"),
            std::string::npos)
            << listed.out;
    }

    EXPECT_EQ(app.stop(SIGTERM), 0) << app.err();
    EXPECT_TRUE(waitFor([&] { return closed(1) && closed(2); }, 10s)) << testing::readFile(logindLog);
    EXPECT_NE(app.err().find("power assertion released kind=idle id=1 reason=stop"), std::string::npos);

    // A crash lets go too: the inhibitors are descriptors and close with the process.
    Background crashing({binaryPath("perchwell"), "--headless"}, home.path() + "/crash.err");
    ASSERT_TRUE(waitFor([&] { return crashing.err().find("[pv:hook-sock]") != std::string::npos; }))
        << crashing.err();
    append(transcript, userLine("u-3", "third prompt"));
    ASSERT_TRUE(waitFor([&] {
        return testing::readFile(logindLog).find("inhibit id=4") != std::string::npos;
    })) << crashing.err();
    crashing.stop(SIGKILL);
    EXPECT_TRUE(waitFor([&] { return closed(3) && closed(4); }, 10s)) << testing::readFile(logindLog);

    ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    if (savedSession != nullptr) {
        ::setenv("DBUS_SESSION_BUS_ADDRESS", saved.c_str(), 1);
    } else {
        ::unsetenv("DBUS_SESSION_BUS_ADDRESS");
    }
}

} // namespace
} // namespace perchwell
