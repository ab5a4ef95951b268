#include "assist/prompt_enhancer.h"
#include "assist/prompt_rewrite.h"
#include "fake_ollama_server.h"
#include "support/log_capture.h"
#include "support/store_fixture.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

using testing::FakeOllamaServer;
using Response = FakeOllamaServer::Response;

TEST(PromptEnhancerWordsTest, VagueMeansShortOrWithoutActionAndWithoutANumberedPath) {
    const std::pair<QString, bool> cases[] = {
        {"update src/app/main.cpp line 42", false},            // a numbered path
        {"  look at src/app/main.cpp:4  ", true},              // 26 once trimmed, though it names a file
        {"please refactor the settings loader now", false},    // an action verb
        {"what is wrong with the address field here", false},  // "add" inside "address"
        {"why does version 3.1 crash on startup now", false},  // a digit and a "."
        {"why does version three crash on startup now", true}, // no digit
    };
    for (const auto& [text, worth] : cases) {
        EXPECT_EQ(PromptEnhancer::worthImproving(text), worth) << text.toStdString();
    }
    // Characters as the user sees them: a family emoji is one, though seven code points.
    const QString family = QString::fromUtf8("\U0001F469\u200D\U0001F469\u200D\U0001F467\u200D\U0001F466");
    EXPECT_TRUE(PromptEnhancer::worthImproving(family.repeated(5) + " and refactor it"));
}

class PromptEnhancerTest : public ::testing::Test {
protected:
    void SetUp() override {
        fixture.store.setOllamaEnabled(true);
        fixture.store.setPromptEnhancerEnabled(true);
        fixture.store.setOllamaBaseURL(server.url().toString());
        fixture.store.setOllamaModel(QStringLiteral("qwen"));
        server.route("GET /api/tags", Response{200, R"({"models":[]})"});
        answer(R"({"response":"Add a failing test in tests/foo_test.cpp, then fix src/foo.cpp"})");
    }
    void answer(const QByteArray& body, int status = 200) {
        server.route("POST /api/generate", {status, body});
    }

    UserEntry prompt(std::string text, std::string sessionId = "session-a") {
        UserEntry entry;
        entry.uuid = "abcdef0123456789";
        entry.sessionId = std::move(sessionId);
        entry.content = std::move(text);
        entry.cwd = "/work/app";
        return entry;
    }
    // Considers the entry and waits for the rewrite it starts (if any) to end.
    // A rewrite that was not started is given 200 ms to show itself.
    bool consider(const UserEntry& entry, int waitMs = 3000) {
        QSignalSpy finished(&enhancer, &PromptEnhancer::rewriteFinished);
        enhancer.consider(entry);
        return finished.wait(waitMs);
    }
    int generateRequests() const {
        int n = 0;
        for (const auto& r : server.requests) {
            n += r.path == "/api/generate" ? 1 : 0;
        }
        return n;
    }

    FakeOllamaServer server;
    testing::StoreFixture fixture;
    testing::RecordingMascot mascot;
    double now = 5000;
    QStringList clipboard;
    PromptEnhancer enhancer{fixture.store, &mascot, [this] { return now; },
                            [this](const QString& text) { clipboard << text; }};
};

TEST_F(PromptEnhancerTest, AVaguePromptsRewriteGoesToTheClipboardAndTheMascot) {
    testing::LogCapture logs;
    ASSERT_TRUE(consider(prompt("make it better")));
    const QString expected = "Add a failing test in tests/foo_test.cpp, then fix src/foo.cpp";
    EXPECT_EQ(clipboard, QStringList{expected});
    EXPECT_EQ(mascot.current, MascotState::suggestion(expected.toStdString()));
    EXPECT_EQ(logs.messages("enhancer").back(),
              "suggestion ready (copied to clipboard): " + expected.left(80).toStdString());

    const auto sent = nlohmann::json::parse(server.requests.last().body.toStdString());
    EXPECT_EQ(sent["system"], std::string(PromptRewrite::systemPrompt));
    EXPECT_EQ(sent["prompt"], "Original prompt: make it better\nProject directory: /work/app\n");
    EXPECT_EQ(sent["options"], nlohmann::json::parse(R"({"temperature":0.2,"num_predict":200})"));
}

TEST_F(PromptEnhancerTest, OneRewritePerSessionEveryThirtySeconds) {
    ASSERT_TRUE(consider(prompt("make it better")));
    now += 10;
    EXPECT_FALSE(consider(prompt("and faster"), 200));
    EXPECT_TRUE(consider(prompt("make it nicer", "session-b")));
    now += 20;
    EXPECT_TRUE(consider(prompt("and smaller")));
    EXPECT_EQ(generateRequests(), 3);
}

TEST_F(PromptEnhancerTest, NothingIsShownForOriginalEmptyOrFailedAnswers) {
    struct Case {
        QByteArray body;
        int status;
        bool shown;
        std::string logged;
    };
    const Case cases[] = {
        {R"({"response":"ORIGINAL\n"})", 200, false, "ollama returned ORIGINAL/empty for abcdef01"},
        {R"({"response":"   "})", 200, false, "ollama returned ORIGINAL/empty for abcdef01"},
        {R"({"response":"make it better"})", 200, false, "ollama returned ORIGINAL/empty for abcdef01"},
        {R"({"response":"original"})", 200, true, "suggestion ready (copied to clipboard): original"},
        {"boom", 500, false, "rewrite failed: Ollama HTTP 500: boom"},
    };
    for (const Case& c : cases) {
        testing::LogCapture logs;
        answer(c.body, c.status);
        clipboard.clear();
        now += 60;
        ASSERT_TRUE(consider(prompt("make it better")));
        EXPECT_EQ(!clipboard.isEmpty(), c.shown) << c.body.toStdString();
        EXPECT_EQ(logs.messages("enhancer").back(), c.logged);
    }
}

TEST_F(PromptEnhancerTest, SwitchesAndAddressesDecideWhetherAnythingIsSent) {
    fixture.store.setOllamaEnabled(false);
    EXPECT_FALSE(consider(prompt("make it better"), 200));
    fixture.store.setOllamaEnabled(true);
    fixture.store.setPromptEnhancerEnabled(false);
    EXPECT_FALSE(consider(prompt("make it better"), 200));
    EXPECT_TRUE(server.requests.isEmpty());

    fixture.store.setPromptEnhancerEnabled(true);
    testing::LogCapture logs;
    fixture.store.setOllamaBaseURL(QStringLiteral("http://169.254.169.254"));
    ASSERT_TRUE(consider(prompt("make it better")));
    EXPECT_EQ(logs.messages("enhancer").back(),
              "ollama URL rejected by SSRF guard, skipping rewrite for abcdef01");

    fixture.store.setOllamaBaseURL(QStringLiteral("http://127.0.0.1:1"));
    now += 60;
    ASSERT_TRUE(consider(prompt("make it better")));
    EXPECT_EQ(logs.messages("enhancer").back(), "ollama unreachable, skipping rewrite for abcdef01");
    EXPECT_TRUE(server.requests.isEmpty());
    EXPECT_TRUE(clipboard.isEmpty());
    EXPECT_EQ(mascot.history.size(), 0u);
}

} // namespace
} // namespace perchwell
