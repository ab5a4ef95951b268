#include "analytics/local_calendar.h"
#include "support/log_capture.h"
#include "view_model_fixture.h"
#include "views/dashboard_view_model.h"

#include <QSignalSpy>
#include <gtest/gtest.h>

#include <chrono>

namespace perchwell {
namespace {

double now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

bool has(const testing::LogCapture& log, const std::string& line) {
    const auto lines = log.systemLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class FakeGenerator final : public ReportGenerator {
public:
    bool reachable = true;
    std::optional<std::string> failure;
    std::string* prompt = nullptr;
    void isReachable(std::function<void(bool)> done) override { done(reachable); }
    void generate(const std::string&, const std::string& p, const std::string&, int, double,
                  std::function<void(Result<std::string>)> done) override {
        if (prompt) {
            *prompt = p;
        }
        done(failure ? Result<std::string>(Error{*failure})
                     : Result<std::string>(std::string("  \n## Report\n ")));
    }
};

struct DashboardTest : ::testing::Test, testing::ViewModelFixture {
    DashboardViewModel model{*store};
    void reload() {
        QSignalSpy done(&model, &DashboardViewModel::loaded);
        model.reload();
        ASSERT_TRUE(settle([&] { return done.count() > 0; }));
    }
    std::string report(const std::string& url, const std::string& modelName, bool enabled) {
        model.generateWeeklyReport(url, modelName, enabled);
        EXPECT_TRUE(model.weeklyReportInFlight());
        EXPECT_TRUE(settle([&] { return !model.weeklyReportInFlight(); }));
        return model.weeklyReport().value_or("<none>");
    }
};

TEST_F(DashboardTest, AnEmptyStore) {
    reload();
    EXPECT_EQ(model.todayPromptCount(), 0);
    ASSERT_EQ(model.dailyHistogram().size(), 7u);
    for (const auto& d : model.dailyHistogram()) {
        EXPECT_EQ(d.count, 0);
    }
    EXPECT_DOUBLE_EQ(model.dailyHistogram().back().day, LocalCalendar::startOfDayContaining(now()));
    EXPECT_TRUE(model.projectActivity().empty());
    EXPECT_EQ(model.totals(), WorkflowStore::Totals{});
    EXPECT_TRUE(model.tasks().empty());
    EXPECT_EQ(model.contextSwitchCount(), 0);
    EXPECT_FALSE(model.isLoading());
    EXPECT_TRUE(model.lastLoaded());
}

TEST_F(DashboardTest, OnlyTypedPromptsCountAndShow) {
    const double t = now() - 60;
    ingest("s1",
           {prompt("1", t - 30, "first", "/w/a"), prompt("2", t - 20, "[tool_result]", "/w/b"),
            prompt("3", t - 10, "second", "/w/b"), prompt("4", t, "[tool_result]\n[tool_result]", "/w/a")});
    reload();
    EXPECT_EQ(model.todayPromptCount(), 2);
    ASSERT_EQ(model.recentPrompts().size(), 2u);
    EXPECT_EQ(model.recentPrompts()[0].content, "second");
    EXPECT_EQ(model.contextSwitchCount(), 1);
    ASSERT_EQ(model.tasks().size(), 2u);
    EXPECT_EQ(model.tasks()[0].title, "second");
    EXPECT_EQ(model.totals().userPrompts, 4); // the store keeps every record
    EXPECT_EQ(model.dailyHistogram().back().count, 2);
}

TEST_F(DashboardTest, TheNewestTenOfElevenTasks) {
    std::vector<JSONLEntry> entries;
    const double t = now() - 11 * 3600;
    for (int i = 0; i < 11; ++i) {
        entries.push_back(prompt(std::to_string(i), t + i * 3600, "task " + std::to_string(i)));
    }
    ingest("s1", entries);
    reload();
    ASSERT_EQ(model.tasks().size(), 10u);
    EXPECT_EQ(model.tasks()[0].title, "task 10");
    EXPECT_EQ(model.tasks()[9].title, "task 1");
}

TEST(DashboardStaticTest, ContextSwitchesAmongNeighbours) {
    using F = testing::ViewModelFixture;
    EXPECT_EQ(DashboardViewModel::countContextSwitches(
                  {F::prompt("1", 5, "", "A"), F::prompt("2", 4, "", "A"), F::prompt("3", 3, "", "B"),
                   F::prompt("4", 2, "", "A"), F::prompt("5", 1, "", std::nullopt)}),
              3);
    EXPECT_EQ(DashboardViewModel::countContextSwitches({F::prompt("1", 5, "", "A")}), 0);
    EXPECT_EQ(DashboardViewModel::countContextSwitches(
                  {F::prompt("1", 5, "", ""), F::prompt("1", 5, "", std::nullopt)}),
              0);
}

TEST_F(DashboardTest, WeeklyReportFallBacks) {
    ingest("s1", {prompt("1", now() - 100, "build the owl")});
    const std::string stub = "# Weekly Report\n\n**1 tasks, 1 prompts total**\n\n## app\n- build the owl\n";
    testing::LogCapture log;
    EXPECT_EQ(report("http://127.0.0.1:11434", "llama3", false), stub);
    EXPECT_TRUE(
        has(log, "[Perchwell] weeklyReport: Ollama disabled or unconfigured — using rule-based stub"));
    EXPECT_EQ(report("http://127.0.0.1:11434", "", true), stub);
    EXPECT_EQ(report("not a url", "llama3", true), stub);

    model.setReportGeneratorFactory([](const std::string& url) -> std::unique_ptr<ReportGenerator> {
        if (url.find("evil") != std::string::npos) {
            return nullptr;
        }
        auto g = std::make_unique<FakeGenerator>();
        g->reachable = url.find("down") == std::string::npos;
        if (url.find("fail") != std::string::npos) {
            g->failure = "model not found";
        }
        return g;
    });
    EXPECT_EQ(report("http://evil.example", "m", true), stub);
    EXPECT_TRUE(
        has(log, "[Perchwell] weeklyReport: Ollama URL rejected by SSRF guard — using rule-based stub"));
    EXPECT_EQ(report("http://down:1", "m", true), stub);
    EXPECT_TRUE(
        has(log, "[Perchwell] weeklyReport: Ollama at http://down:1 unreachable — using rule-based stub"));
    EXPECT_EQ(report("http://fail:1", "m", true),
              stub + "\n\n_(Ollama generation failed: model not found. The report above is rule-based.)_");
    EXPECT_EQ(report("http://up:1", "m", true), "## Report");
}

} // namespace
} // namespace perchwell
