#include "assist/auto_continue.h"
#include "assist/tmux_pane_finder.h"
#include "fake_ollama_server.h"
#include "support/fake_command_runner.h"
#include "support/log_capture.h"
#include "support/store_fixture.h"

#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

using testing::FakeCommandRunner;
using testing::FakeOllamaServer;

// Records what would have been typed.
class RecordingAutomator final : public InputAutomator {
public:
    std::optional<std::string> unavailableReason() override { return unavailable; }
    bool secureInputEnabled() override { return secure; }
    std::optional<FrontmostApplication> frontmostApplication() override { return frontmost; }
    std::optional<InputSourceSnapshot> switchToASCIILayout() override {
        events.push_back("switch");
        return imeActive ? std::optional<InputSourceSnapshot>(InputSourceSnapshot{"ibus", "anthy"})
                         : std::nullopt;
    }
    void restoreInputSource(const std::optional<InputSourceSnapshot>& snapshot) override {
        if (snapshot) {
            events.push_back("restore " + snapshot->id);
        }
    }
    bool sendString(const std::string& text, const FrontmostApplication& app) override {
        events.push_back("type '" + text + "' to " + std::to_string(app.pid));
        return true;
    }
    void sendReturn(const FrontmostApplication& app) override {
        events.push_back("return to " + std::to_string(app.pid));
    }

    std::optional<std::string> unavailable;
    bool secure = false;
    bool imeActive = false;
    std::optional<FrontmostApplication> frontmost = FrontmostApplication{4242, "XTerm", "xterm", 7};
    std::vector<std::string> events;
};

const std::string session = "5e55101d-0000-4000-8000-000000000000";

class AutoContinueTest : public ::testing::Test {
protected:
    void SetUp() override {
        fixture.store.setAutoContinue(true);
        std::filesystem::create_directories(proc);
        runner.answers["tmux list-panes -a -F #{pane_pid} #{pane_id}"] = {0, "200 %5\n"};
    }
    // A claude process in `cwd` under the pane shell 200, in the foreground or not.
    void claudeInPane(const std::string& cwd, bool foreground = true) {
        for (const auto& [pid, stat] :
             {std::pair{200, "200 (bash) S 100 200 200 34816 300 0"},
              std::pair{300, foreground ? "300 (claude) S 200 300 200 34816 300 0"
                                        : "300 (claude) T 200 300 200 34816 200 0"}}) {
            const std::string dir = proc + "/" + std::to_string(pid);
            std::filesystem::create_directories(dir);
            testing::writeFile(dir + "/stat", stat);
            std::filesystem::create_directory_symlink(cwd, dir + "/cwd");
        }
    }
    // Runs one attempt; the target it typed into ("" when refused, nothing if it never ended).
    std::optional<QString> attempt(AutoContinue& autoContinue, std::optional<std::string> cwd = "/work/app") {
        QSignalSpy finished(&autoContinue, &AutoContinue::attemptFinished);
        autoContinue.injectContinueIfPossible(session, cwd);
        if (finished.isEmpty() && !finished.wait(3000)) {
            return std::nullopt;
        }
        return finished.first().first().toString();
    }

public:
    testing::StoreFixture fixture;
    RecordingAutomator automator;
    bool accessibility = true;
    FakeCommandRunner runner;
    std::string proc = fixture.home.path() + "/proc";
    TmuxPaneFinder panes{runner, proc};
    AutoContinue autoContinue{fixture.store, &automator, [this] { return accessibility; }, &panes};
};

TEST_F(AutoContinueTest, TheFrontmostTerminalGetsContinueAndReturnThroughEveryGate) {
    struct Case {
        const char* what;
        std::function<void(AutoContinueTest&)> setUp;
        std::vector<std::string> events;
        std::string lastLine;
    };
    const std::string tried = "[Perchwell] auto-continue: session 5e55101d: no claude process in /work/app — "
                              "trying the terminal in front";
    const Case cases[] = {
        {"typed into a trusted terminal",
         [](auto&) {},
         {"switch", "type 'continue' to 4242", "return to 4242"},
         "[Perchwell] auto-continue: session 5e55101d idle, injecting continue to pid=4242 (XTerm)"},
        {"an input method is switched off and back on around the typing",
         [](auto& t) { t.automator.imeActive = true; },
         {"switch", "type 'continue' to 4242", "return to 4242", "restore anthy"},
         "[Perchwell] auto-continue: session 5e55101d idle, injecting continue to pid=4242 (XTerm)"},
        {"secure input",
         [](auto& t) { t.automator.secure = true; },
         {},
         "[Perchwell] auto-continue: secure input enabled, skipping"},
        {"no window in front",
         [](auto& t) { t.automator.frontmost.reset(); },
         {},
         "[Perchwell] auto-continue: no frontmost app, skipping"},
        {"a browser in front",
         [](auto& t) {
             t.automator.frontmost = FrontmostApplication{9, "Firefox", "Navigator", 3};
         },
         {},
         "[Perchwell] auto-continue: frontmost Firefox not a trusted terminal, skipping"},
        {"a ToDesktop editor is trusted",
         [](auto& t) {
             t.automator.frontmost = FrontmostApplication{5, "com.todesktop.xyz", "", 3};
         },
         {"switch", "type 'continue' to 5", "return to 5"},
         "[Perchwell] auto-continue: session 5e55101d idle, injecting continue to pid=5 (com.todesktop.xyz)"},
        {"accessibility lost",
         [](auto& t) { t.accessibility = false; },
         {},
         "[Perchwell] auto-continue: accessibility not granted post-await, skipping"},
        {"Wayland",
         [](auto& t) { t.automator.unavailable = "this is a Wayland session"; },
         {},
         "[Perchwell] auto-continue: keystrokes not available: this is a Wayland session, skipping"},
    };
    for (const Case& c : cases) {
        RecordingAutomator fresh;
        automator = fresh;
        accessibility = true;
        c.setUp(*this);
        testing::LogCapture logs;
        ASSERT_TRUE(attempt(autoContinue).has_value()) << c.what;
        QTest::qWait(100); // a restore comes 60 ms after the Return
        EXPECT_EQ(automator.events, c.events) << c.what;
        const auto lines = logs.systemLines();
        ASSERT_FALSE(lines.empty()) << c.what;
        EXPECT_EQ(lines.front(), tried) << c.what;
        const bool typed = !c.events.empty();
        EXPECT_EQ(typed ? lines.at(1) : lines.back(), c.lastLine) << c.what;
    }
}

TEST_F(AutoContinueTest, OffMeansNothingAtAll) {
    fixture.store.setAutoContinue(false);
    testing::LogCapture logs;
    QSignalSpy finished(&autoContinue, &AutoContinue::attemptFinished);
    autoContinue.injectContinueIfPossible(session, "/work/app");
    EXPECT_TRUE(logs.systemLines().empty());
    EXPECT_TRUE(runner.calls.empty());
    EXPECT_TRUE(automator.events.empty());
}

TEST_F(AutoContinueTest, TheSessionsOwnTmuxPaneComesBeforeTheTerminalInFront) {
    const std::string dir = fixture.home.path();
    claudeInPane(dir);
    runner.answers["tmux send-keys -t %5 -l -- continue"] = {0, ""};
    runner.answers["tmux send-keys -t %5 Enter"] = {0, ""};
    testing::LogCapture logs;
    EXPECT_EQ(attempt(autoContinue, dir), QStringLiteral("tmux:%5"));
    EXPECT_TRUE(automator.events.empty()) << "the focused terminal gets nothing";
    const std::vector<std::string> sends(runner.calls.end() - 2, runner.calls.end());
    EXPECT_EQ(sends, (std::vector<std::string>{"tmux send-keys -t %5 -l -- continue",
                                               "tmux send-keys -t %5 Enter"}));
    EXPECT_EQ(logs.systemLines().front(),
              "[Perchwell] auto-continue: session 5e55101d idle, injecting continue to tmux pane %5");
}

TEST_F(AutoContinueTest, SeveralPanesGetNothingAndNeitherDoesTheTerminalInFront) {
    const std::string dir = fixture.home.path();
    claudeInPane(dir);
    // A second pane, 400, whose claude works in the same directory.
    for (const auto& [pid, stat] : {std::pair{400, "400 (zsh) S 100 400 400 34817 410 0"},
                                    std::pair{410, "410 (claude) S 400 410 400 34817 410 0"}}) {
        std::filesystem::create_directories(proc + "/" + std::to_string(pid));
        testing::writeFile(proc + "/" + std::to_string(pid) + "/stat", stat);
        std::filesystem::create_directory_symlink(dir, proc + "/" + std::to_string(pid) + "/cwd");
    }
    runner.answers["tmux list-panes -a -F #{pane_pid} #{pane_id}"] = {0, "200 %5\n400 %6\n"};
    testing::LogCapture logs;
    EXPECT_EQ(attempt(autoContinue, dir), QString());
    EXPECT_TRUE(automator.events.empty());
    EXPECT_EQ(logs.systemLines().back(),
              "[Perchwell] auto-continue: session 5e55101d: several tmux panes run claude in " + dir +
                  " (%5, %6), typing into none, skipping");
}

TEST_F(AutoContinueTest, AStoppedClaudeGetsNothingAndNeitherDoesTheTerminalInFront) {
    const std::string dir = fixture.home.path();
    claudeInPane(dir, false);
    testing::LogCapture logs;
    EXPECT_EQ(attempt(autoContinue, dir), QString());
    EXPECT_TRUE(automator.events.empty());
    EXPECT_EQ(runner.calls.size(), 1u) << "no send-keys";
    EXPECT_EQ(logs.systemLines().back(), "[Perchwell] auto-continue: session 5e55101d: claude in " + dir +
                                             " is not in the foreground of its pane (%5), skipping");
}

TEST_F(AutoContinueTest, WithoutADisplayOnlyAPaneCanBeTypedInto) {
    AutoContinue headless{fixture.store, nullptr, [] { return false; }, &panes};
    testing::LogCapture logs;
    EXPECT_EQ(attempt(headless), QString());
    EXPECT_EQ(logs.systemLines().back(),
              "[Perchwell] auto-continue: keystrokes not available without a display, skipping");
}

class ContinueTextGenerationTest : public AutoContinueTest {
protected:
    void SetUp() override {
        AutoContinueTest::SetUp();
        fixture.store.setOllamaEnabled(true);
        fixture.store.setOllamaBaseURL(server.url().toString());
        fixture.store.setOllamaModel(QStringLiteral("qwen"));
        server.route("GET /api/tags", {200, R"({"models":[]})"});
    }
    std::string generated() {
        std::optional<std::string> text;
        autoContinue.generateContinueText([&](std::string t) { text = std::move(t); });
        for (int i = 0; i < 600 && !text; ++i) {
            QTest::qWait(5);
        }
        return text.value_or("(no answer)");
    }
    FakeOllamaServer server;
};

TEST_F(ContinueTextGenerationTest, TheModelsWordingOrContinue) {
    struct Case {
        FakeOllamaServer::Response response;
        std::string text;
        std::string logged; // empty: nothing logged
    };
    const Case cases[] = {
        {{200, R"({"response":"\n\n  'Proceed.'  "})"}, "Proceed.", ""},
        {{200, R"({"response":"Don't stop, keep going"})"},
         "continue",
         "[Perchwell] continue gen rejected anti-continue word 'stop' in 'Don't stop, keep going' — falling "
         "back "
         "to continue"},
        {{200, R"({"response":"Continue with the next step of the migration plan you wrote"})"},
         "continue",
         ""},
        {{404, "model not found"},
         "continue",
         "[Perchwell] continue text gen failed: Ollama model is not installed: qwen. Run `ollama pull qwen`. "
         "— "
         "falling back to 'continue'"},
    };
    for (const Case& c : cases) {
        server.route("POST /api/generate", c.response);
        testing::LogCapture logs;
        EXPECT_EQ(generated(), c.text);
        const auto lines = logs.systemLines();
        EXPECT_EQ(lines.empty() ? "" : lines.back(), c.logged);
    }
    const auto sent = nlohmann::json::parse(server.requests.last().body.toStdString());
    EXPECT_EQ(sent["options"], nlohmann::json::parse(R"({"temperature":0.4,"num_predict":30})"));

    testing::LogCapture logs;
    fixture.store.setOllamaBaseURL(QStringLiteral("http://169.254.169.254/"));
    EXPECT_EQ(generated(), "continue");
    EXPECT_EQ(logs.systemLines().back(),
              "[Perchwell] ollama URL rejected by SSRF guard: http://169.254.169.254/ — "
              "using literal 'continue'");
    fixture.store.setOllamaEnabled(false);
    EXPECT_EQ(generated(), "continue");
}

TEST_F(ContinueTextGenerationTest, SecureInputSwitchedOnWhileTheModelThinksStopsTheTyping) {
    server.route("POST /api/generate", {200, R"({"response":"go on"})", {}, 300});
    testing::LogCapture logs;
    QSignalSpy finished(&autoContinue, &AutoContinue::attemptFinished);
    autoContinue.injectContinueIfPossible(session, "/work/app");
    automator.secure = true;
    ASSERT_TRUE(finished.wait(5000));
    EXPECT_EQ(automator.events, std::vector<std::string>{});
    EXPECT_EQ(logs.systemLines().back(),
              "[Perchwell] auto-continue: secure input enabled post-await, skipping");
}

} // namespace
} // namespace perchwell
