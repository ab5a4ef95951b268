#include "dashboard_sample.h"
#include "platform/paths.h"
#include "state/settings_store.h"
#include "support/log_capture.h"
#include "view_model_fixture.h"
#include "views/dashboard/bar_chart.h"
#include "views/dashboard/dashboard_format.h"
#include "views/dashboard/dashboard_view.h"
#include "views/dashboard/sessions_lens.h"
#include "views/dashboard/today_lens.h"
#include "views/dashboard/trace_lens.h"
#include "views/dashboard_view_model.h"
#include "views/sessions_view_model.h"
#include "views/trace_view_model.h"

#include <QAbstractButton>
#include <QClipboard>
#include <QDateTime>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QSignalSpy>
#include <QToolButton>
#include <QTreeWidget>

#include <filesystem>
#include <fstream>

namespace perchwell {
namespace {

using F = testing::ViewModelFixture;

double now() {
    return static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000;
}

QStringList texts(const QWidget& root) {
    QStringList out;
    for (const QLabel* label : root.findChildren<QLabel*>()) {
        out << label->text();
    }
    return out;
}

TEST(DashboardFormatTest, TokenCountsAndDurations) {
    const std::pair<int64_t, const char*> tokens[] = {{0, "0"},
                                                      {999, "999"},
                                                      {1000, "1.0k"},
                                                      {1500, "1.5k"},
                                                      {999'949, "999.9k"},
                                                      {999'999, "1.0M"},
                                                      {2'000'000, "2.0M"},
                                                      {1'234'567'890, "1234.6M"},
                                                      {-1500, "-1.5k"}};
    for (const auto& [count, shown] : tokens) {
        EXPECT_EQ(DashboardFormat::tokens(count), shown) << count;
    }
    const std::pair<double, const char*> durations[] = {{0, "0s"},      {59.4, "59s"},    {59.9, "59s"},
                                                        {60, "1m"},     {3599, "59m"},    {3600, "1h"},
                                                        {3900, "1h5m"}, {90061, "25h1m"}, {-3, "0s"}};
    for (const auto& [seconds, shown] : durations) {
        EXPECT_EQ(DashboardFormat::duration(seconds), shown) << seconds;
    }
    EXPECT_EQ(DashboardFormat::grouped(1234567), "1,234,567");
    EXPECT_EQ(DashboardFormat::shortModel("claude-sonnet-4-5"), "sonnet-4-5");
    EXPECT_EQ(DashboardFormat::shortModel("gpt-5"), "gpt-5");
}

// The policy buttons of the board's cards (the search field has tool buttons of its own).
QList<QToolButton*> policyButtons(QWidget& lens) {
    QList<QToolButton*> out;
    for (QToolButton* b : lens.findChildren<QToolButton*>()) {
        if (b->menu()) {
            out << b;
        }
    }
    return out;
}

struct DashboardViewTest : ::testing::Test, F {
    std::string root = QDir::homePath().toStdString() + "/.claude/projects";
    std::unique_ptr<DashboardView> view;

    DashboardView& open() {
        view = std::make_unique<DashboardView>(*store, nullptr, root);
        view->show();
        return *view;
    }
    void showAndWait(DashboardView::Lens lens) {
        switch (lens) {
        case DashboardView::Lens::today: {
            QSignalSpy done(&view->dashboardModel(), &DashboardViewModel::loaded);
            view->showLens(lens);
            ASSERT_TRUE(settle([&] { return !done.isEmpty(); }));
            break;
        }
        case DashboardView::Lens::sessions: {
            QSignalSpy done(&view->sessionsModel(), &SessionsViewModel::sessionsChanged);
            view->showLens(lens);
            ASSERT_TRUE(settle([&] { return !done.isEmpty(); }));
            break;
        }
        case DashboardView::Lens::trace: {
            QSignalSpy done(&view->traceModel(), &TraceViewModel::loaded);
            view->showLens(lens);
            ASSERT_TRUE(settle([&] { return !done.isEmpty(); }));
            ASSERT_TRUE(settle([&] { return !view->traceModel().isLoading(); }));
            break;
        }
        }
        settleLayouts();
    }
    // A loaded machine may paint before the pages have grown to their new content.
    void settleLayouts() {
        QTest::qWait(50); // the diffs arrive
        ASSERT_TRUE(
            settle([this] { return !view->sessionsLens().building() && !view->traceLens().building(); }));
        for (QScrollArea* page : view->findChildren<QScrollArea*>()) {
            ASSERT_TRUE(settle([page] {
                return !page->isVisible() ||
                       page->widget()->height() >= page->widget()->minimumSizeHint().height();
            }));
        }
    }
    void search(const QString& query) {
        QSignalSpy hits(&view->traceModel(), &TraceViewModel::searchHitsChanged);
        view->traceLens().searchField()->setText(query);
        emit view->traceLens().searchField()->returnPressed();
        ASSERT_TRUE(settle([&] { return !hits.isEmpty(); }));
    }
    void writeTranscript(const std::string& session, int matches) {
        const std::string dir = root + "/-w-app";
        std::filesystem::create_directories(dir);
        std::ofstream out(dir + "/" + session + ".jsonl");
        for (int i = 0; i < matches; ++i) {
            out << R"({"type":"user","uuid":"u)" << i << R"(","sessionId":")" << session
                << R"(","timestamp":"2026-01-05T10:00:)" << (10 + i) << R"(Z","cwd":"/w/app",)"
                << R"("message":{"role":"user","content":"find the needle number )" << i << "\"}}\n";
        }
    }
};

TEST_F(DashboardViewTest, EmptyStoreShowsEveryEmptyState) {
    open();
    EXPECT_EQ(view->windowTitle(), "Receipts");
    EXPECT_EQ(view->size(), QSize(720, 800));
    EXPECT_EQ(view->lens(), DashboardView::Lens::today);
    showAndWait(DashboardView::Lens::today);
    const auto today = texts(view->todayLens());
    for (const char* shown :
         {"No data for today yet", "No tasks yet", "No prompts yet. Backfill may still be running.",
          "0 prompts total", "Today's prompts", "Active projects", "Total sessions", "Context switches"}) {
        EXPECT_TRUE(today.contains(shown)) << shown;
    }
    EXPECT_FALSE(today.contains("No history yet")) << "seven zero days still make a histogram";

    showAndWait(DashboardView::Lens::sessions);
    const auto sessions = texts(view->sessionsLens());
    EXPECT_EQ(sessions.count("No sessions"), 3);
    EXPECT_TRUE(sessions.contains("0 sessions across all sources"));

    showAndWait(DashboardView::Lens::trace);
    EXPECT_TRUE(texts(view->traceLens()).contains("Enter keywords to search"));
    EXPECT_TRUE(texts(view->traceLens()).contains("Select a session above first"));
    search("nothing here");
    EXPECT_TRUE(texts(view->traceLens()).contains("No matches. Try shorter keywords."));
}

TEST_F(DashboardViewTest, SearchShowsTwentyHitsThenHowManyMore) {
    writeTranscript("s-needles", 25);
    open();
    showAndWait(DashboardView::Lens::trace);
    search("NEEDLE  number");
    const auto shown = texts(view->traceLens());
    EXPECT_TRUE(shown.contains("25 matches"));
    EXPECT_EQ(shown.count("USER"), TraceLens::hitsShown);
    EXPECT_TRUE(shown.contains("...and 5 more"));

    search("needle number 24");
    EXPECT_TRUE(texts(view->traceLens()).contains("1 matches"));
    EXPECT_FALSE(texts(view->traceLens()).join("|").contains("more"));
}

TEST_F(DashboardViewTest, PolicyMenuWritesTheStoreAndTheCardFollows) {
    ingest("s1", {F::prompt("p1", now() - 30, "hello")});
    ingest("s2", {F::prompt("p2", now() - 30, "hello")}); // its project is unknown: no directory
    ASSERT_TRUE(store->upsertProject({"-w-app", "/w/app", "/x", {}}).ok());
    ASSERT_TRUE(store->ingest("s2", "-w-other", "/x/s2.jsonl", {}, 1).ok());
    open();
    showAndWait(DashboardView::Lens::sessions);
    auto buttons = policyButtons(view->sessionsLens());
    ASSERT_EQ(buttons.size(), 2);
    buttons.removeIf([](QToolButton* b) { return b->parent()->findChild<QLabel*>()->text() != "app"; });
    ASSERT_EQ(buttons.size(), 1);
    EXPECT_EQ(buttons[0]->text(), "Global");
    QAction* strict = nullptr;
    for (QAction* a : buttons[0]->menu()->actions()) {
        if (a->text() == "Strict") {
            strict = a;
        }
    }
    ASSERT_NE(strict, nullptr);
    QSignalSpy reloaded(&view->sessionsModel(), &SessionsViewModel::sessionsChanged);
    strict->trigger();
    ASSERT_TRUE(settle([&] { return !reloaded.isEmpty(); }));
    QStringList policies;
    for (QToolButton* b : policyButtons(view->sessionsLens())) {
        policies << b->text();
    }
    policies.sort();
    EXPECT_EQ(policies, QStringList({"Global", "Strict"}));

    std::vector<std::string> launched;
    view->sessionsLens().launch = [&](const std::string& cwd) { launched.push_back(cwd); };
    for (QAbstractButton* b : view->sessionsLens().findChildren<QAbstractButton*>()) {
        if (b->text() == "Skip-perms" && b->isEnabled()) {
            EXPECT_EQ(b->toolTip(), "Open Terminal in /w/app and run: claude --dangerously-skip-permissions");
            b->click();
        } else if (b->text() == "Skip-perms") {
            EXPECT_EQ(b->toolTip(), "No cwd recorded for this session");
        }
    }
    EXPECT_EQ(launched, std::vector<std::string>{"/w/app"});
}

TEST_F(DashboardViewTest, TodayFollowsTheStoreWithOneReloadPerBurst) {
    open();
    showAndWait(DashboardView::Lens::today);
    QSignalSpy loaded(&view->dashboardModel(), &DashboardViewModel::loaded);
    for (int i = 0; i < 30; ++i) { // a busy session writes line after line
        ingest("s1", {F::prompt("live" + std::to_string(i), now(), "another prompt")});
        view->storeChanged();
    }
    ASSERT_TRUE(settle([&] { return view->dashboardModel().todayPromptCount() == 30; }));
    QTest::qWait(DashboardView::debounceMs + 300);
    EXPECT_EQ(loaded.size(), 1);
    EXPECT_TRUE(texts(view->todayLens()).contains("30 prompts total"));
}

// The Generate button asks the Ollama server of the settings; one that does not answer
// leaves the rule-based report, which Copy puts on the clipboard.
TEST_F(DashboardViewTest, WeeklyReportFromTheSettingsFallsBackAndCopies) {
    testing::LogCapture logs;
    SettingsStore settings{Paths::defaultsFile(), nullptr};
    settings.setOllamaEnabled(true);
    settings.setOllamaBaseURL(QStringLiteral("http://127.0.0.1:9"));
    settings.setOllamaModel(QStringLiteral("qwen2.5:0.5b"));
    view = std::make_unique<DashboardView>(*store, &settings, root);
    view->show();
    QAbstractButton* generate = nullptr;
    QAbstractButton* copy = nullptr;
    for (QAbstractButton* b : view->todayLens().findChildren<QAbstractButton*>()) {
        if (b->text() == "Generate Report") {
            generate = b;
        } else if (b->text() == "Copy") {
            copy = b;
        }
    }
    ASSERT_TRUE(generate && copy);
    EXPECT_FALSE(copy->isVisible()) << "nothing to copy yet";
    generate->click();
    ASSERT_TRUE(settle([&] { return view->dashboardModel().weeklyReport().has_value(); }));
    EXPECT_TRUE(generate->isEnabled());
    const auto lines = logs.systemLines();
    EXPECT_NE(
        std::find(
            lines.begin(), lines.end(),
            "[Perchwell] weeklyReport: Ollama at http://127.0.0.1:9 unreachable — using rule-based stub"),
        lines.end());
    ASSERT_TRUE(copy->isVisible());
    copy->click();
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), *view->dashboardModel().weeklyReport());
    EXPECT_TRUE(QGuiApplication::clipboard()->text().startsWith("# Weekly Report"));
}

// Pictures of every lens over a realistic week, for a person to look at.
TEST_F(DashboardViewTest, ScreenshotsOfEveryLens) {
    const auto written = bench::DashboardSample::generate({root, store.get(), 700, 7, now(), 7});
    ASSERT_GT(written.sessions, 40);
    open();
    const QString dir = QStringLiteral(PERCHWELL_BIN_DIR "/../screenshots");
    QDir().mkpath(dir);
    const std::pair<DashboardView::Lens, const char*> lenses[] = {{DashboardView::Lens::today, "today"},
                                                                  {DashboardView::Lens::sessions, "sessions"},
                                                                  {DashboardView::Lens::trace, "trace"}};
    for (const auto& [lens, name] : lenses) {
        showAndWait(lens);
        EXPECT_TRUE(view->grab().save(dir + "/dashboard-" + name + ".png")) << name;
        // The whole page, for the sections below the fold.
        if (lens != DashboardView::Lens::sessions) {
            QScrollArea& page = lens == DashboardView::Lens::today
                                    ? static_cast<QScrollArea&>(view->todayLens())
                                    : view->traceLens();
            page.widget()->grab().save(dir + "/dashboard-" + name + "-page.png");
        }
    }
    search("refunds");
    settleLayouts();
    view->traceLens().widget()->grab().save(dir + "/dashboard-trace-search.png");
    EXPECT_FALSE(view->traceModel().searchHits().empty());
}

} // namespace
} // namespace perchwell
