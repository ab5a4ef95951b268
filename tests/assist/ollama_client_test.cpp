#include "assist/ollama_client.h"
#include "fake_ollama_server.h"
#include "support/log_capture.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

namespace perchwell {
namespace {

using testing::FakeOllamaServer;
using Response = FakeOllamaServer::Response;

// Runs the event loop until `op` has called back (or 10 s have passed).
template <typename T> std::optional<T> await(const std::function<void(std::function<void(T)>)>& op) {
    std::optional<T> result;
    op([&](T value) { result = std::move(value); });
    QElapsedTimer clock;
    clock.start();
    while (!result && clock.elapsed() < 10000) {
        QTest::qWait(5);
    }
    return result;
}

class OllamaClientTest : public ::testing::Test {
protected:
    std::shared_ptr<OllamaClient> client() { return OllamaClient::create(server.url()); }

    OllamaResult<QString> generate(OllamaClient::GenerateRequest request = {
                                       QStringLiteral("qwen"), QStringLiteral("hi"), std::nullopt,
                                       std::nullopt, 0.4}) {
        auto c = client();
        return *await<OllamaResult<QString>>([&](auto done) { c->generate(request, done); });
    }
    static std::string failure(const OllamaResult<QString>& result) {
        const auto* error = std::get_if<OllamaError>(&result);
        return error ? error->description() : "no failure";
    }

    FakeOllamaServer server;
};

TEST_F(OllamaClientTest, GuardedAddressesGetNoClientAndNoConnection) {
    // 127.0.0.2 is loopback too, so a server listening there would be reached.
    FakeOllamaServer other(QHostAddress(QStringLiteral("127.0.0.2")));
    const QString port = QString::number(other.url().port());
    const std::pair<QString, bool> cases[] = {
        {"http://127.0.0.2:" + port, false},
        {"http://2130706434:" + port, false}, // 127.0.0.2 as one number
        {"ftp://127.0.0.1:" + port, false},
        {"HTTP://LOCALHOST:11434", true},
        {"http://127.0.0.1:11434/prefix", true},
        {"http:///api", false},
        {"http://[::]:11434", false},
        {"http://metadata.google.internal./", false},
        {"http://169.254.169.254/latest", false},
        {"not a url at all", false},
    };
    for (const auto& [text, allowed] : cases) {
        EXPECT_EQ(OllamaClient::create(QUrl(text)) != nullptr, allowed) << text.toStdString();
    }
    QTest::qWait(50);
    EXPECT_EQ(other.connections, 0);
}

TEST_F(OllamaClientTest, ReachableOnlyForA2xxAnswerWithinTwoSeconds) {
    server.route("GET /api/tags", Response{200, R"({"models":[]})"});
    auto c = client();
    EXPECT_EQ(await<bool>([&](auto done) { c->isReachable(done); }), true);

    server.route("GET /api/tags", Response{503, "busy"});
    EXPECT_EQ(await<bool>([&](auto done) { c->isReachable(done); }), false);

    server.route("GET /api/tags", Response::silence());
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(await<bool>([&](auto done) { c->isReachable(done); }), false);
    EXPECT_LT(clock.elapsed(), 5000) << "a silent server must not hold the caller";

    auto nobody = OllamaClient::create(QUrl(QStringLiteral("http://127.0.0.1:1")));
    EXPECT_EQ(await<bool>([&](auto done) { nobody->isReachable(done); }), false);
}

TEST_F(OllamaClientTest, ListsModelNamesSortedAndLogsWhatItCannotRead) {
    struct Case {
        QByteArray body;
        QStringList names;
        std::string logged;
    };
    const Case cases[] = {
        {R"({"models":[{"name":"qwen2.5:0.5b"},{"size":1},{"name":"llama3:8b"}]})",
         {"llama3:8b", "qwen2.5:0.5b"},
         ""},
        {R"([1,2])", {}, "listModels: response is not JSON object (5B)"},
        {R"(garbage)", {}, "listModels: response is not JSON object (7B)"},
        {R"({"error":"x"})", {}, "listModels: response missing 'models' field"},
        {R"({"models":[1]})", {}, "listModels: response missing 'models' field"},
    };
    for (const Case& c : cases) {
        testing::LogCapture logs;
        server.route("GET /api/tags", Response{500, c.body}); // the status is not looked at
        auto cl = client();
        EXPECT_EQ(await<QStringList>([&](auto done) { cl->listModels(done); }), c.names)
            << c.body.toStdString();
        const auto messages = logs.messages("ollama");
        EXPECT_EQ(messages.empty() ? "" : messages.back(), c.logged) << c.body.toStdString();
    }
    testing::LogCapture logs;
    auto nobody = OllamaClient::create(QUrl(QStringLiteral("http://127.0.0.1:1")));
    EXPECT_EQ(await<QStringList>([&](auto done) { nobody->listModels(done); }), QStringList());
    ASSERT_FALSE(logs.messages("ollama").empty());
    EXPECT_TRUE(logs.messages("ollama").back().starts_with("listModels GET /api/tags failed: "));
}

TEST_F(OllamaClientTest, GenerateSendsTheOptionsGivenAndReturnsTheResponse) {
    server.route("POST /api/generate", Response{200, R"({"response":"Keep going","done":true})"});
    const auto result = generate({"qwen", "Say it", QStringLiteral("Be brief"), 30, 0.4});
    ASSERT_TRUE(std::holds_alternative<QString>(result)) << failure(result);
    EXPECT_EQ(std::get<QString>(result), "Keep going");
    ASSERT_EQ(server.requests.size(), 1);
    const auto sent = nlohmann::json::parse(server.requests[0].body.toStdString());
    EXPECT_EQ(sent,
              nlohmann::json::parse(R"({"model":"qwen","prompt":"Say it","stream":false,"system":"Be brief",
                                             "options":{"temperature":0.4,"num_predict":30}})"));

    generate({"qwen", "Say it", std::nullopt, std::nullopt, 0.2});
    const auto bare = nlohmann::json::parse(server.requests[1].body.toStdString());
    EXPECT_FALSE(bare.contains("system"));
    EXPECT_EQ(bare["options"], nlohmann::json::parse(R"({"temperature":0.2})"));
}

TEST_F(OllamaClientTest, GenerateFailuresAreDescribedByStatusAndBody) {
    struct Case {
        Response response;
        std::string description;
    };
    const Case cases[] = {
        {{404, R"({"error":"model 'qwen' not found"})"},
         "Ollama model is not installed: qwen. Run `ollama pull qwen`."},
        {{404, "404 page not found"}, "Ollama HTTP 404: 404 page not found"},
        {{500, QByteArray(300, 'e')}, "Ollama HTTP 500: " + std::string(200, 'e')},
        {{200, R"({"done":true})"}, "Could not parse Ollama response."},
        {{200, R"({"response":42})"}, "Could not parse Ollama response."},
        {{200, "<html>"}, "Could not parse Ollama response."},
        // A redirect is not followed: it could lead past the address guard.
        {Response::redirect("http://169.254.169.254/latest/meta-data"), "Ollama HTTP 302: "},
    };
    for (const Case& c : cases) {
        server.route("POST /api/generate", c.response);
        EXPECT_EQ(failure(generate()), c.description);
    }
    EXPECT_EQ(server.requests.size(), 7);

    auto nobody = OllamaClient::create(QUrl(QStringLiteral("http://127.0.0.1:1")));
    const auto refused = *await<OllamaResult<QString>>([&](auto done) {
        nobody->generate({"qwen", "hi", std::nullopt, std::nullopt, 0.4}, done);
    });
    EXPECT_TRUE(failure(refused).starts_with("Ollama is not reachable: ")) << failure(refused);
}

TEST_F(OllamaClientTest, OperationsOfOneClientRunOneAtATime) {
    server.route("POST /api/generate", Response{200, R"({"response":"a"})", {}, 150});
    server.route("GET /api/tags", Response{200, R"({"models":[]})"});
    auto c = client();
    std::vector<std::string> order;
    c->generate({"m", "p", std::nullopt, std::nullopt, 0.4}, [&](auto) { order.push_back("generate"); });
    c->isReachable([&](bool) { order.push_back("reachable"); });
    c->listModels([&](QStringList) { order.push_back("list"); });
    QElapsedTimer clock;
    clock.start();
    while (order.size() < 3 && clock.elapsed() < 10000) {
        QTest::qWait(5);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"generate", "reachable", "list"}));
    EXPECT_EQ(server.mostOpenAtOnce, 1);
}

TEST_F(OllamaClientTest, PullReportsProgressInStepsAboveTwoPercent) {
    server.route(
        "POST /api/pull",
        Response{200,
                 {},
                 {R"({"status":"pulling manifest"})", "", "not json", R"({"total":1000,"completed":10})",
                  R"({"total":1000,"completed":15})", R"({"total":1000,"completed":40})",
                  R"({"total":1000,"completed":1000})", R"({"status":"success"})"}});
    auto c = client();
    std::vector<double> progress;
    const auto done = await<std::optional<OllamaError>>([&](auto finish) {
        c->pullModel(
            "qwen", [&](double f) { progress.push_back(f); }, finish);
    });
    ASSERT_TRUE(done.has_value());
    EXPECT_FALSE(done->has_value()) << (*done)->description();
    EXPECT_EQ(progress, (std::vector<double>{0.01, 0.04, 1.0, 1.0}));
    EXPECT_EQ(nlohmann::json::parse(server.requests[0].body.toStdString()),
              nlohmann::json::parse(R"({"name":"qwen","stream":true})"));
}

TEST_F(OllamaClientTest, PullFailsOnAnErrorLineOrABadStatus) {
    struct Case {
        Response response;
        std::string description; // empty: success
    };
    const Case cases[] = {
        {{200,
          {},
          {R"({"total":100,"completed":50})", R"({"error":"pull model manifest: file does not exist"})"}},
         "Ollama HTTP 500: pull model manifest: file does not exist"},
        {{404, R"({"error":"nope"})"}, "Ollama HTTP 404: pull failed"},
        {{200, {}, {R"({"status":"downloading"})"}}, ""}, // ended without "success": done all the same
    };
    for (const Case& c : cases) {
        server.route("POST /api/pull", c.response);
        auto cl = client();
        const auto done = await<std::optional<OllamaError>>([&](auto finish) {
            cl->pullModel(
                "qwen", [](double) {}, finish);
        });
        ASSERT_TRUE(done.has_value());
        EXPECT_EQ(done->has_value() ? (*done)->description() : "", c.description);
    }
}

} // namespace
} // namespace perchwell
