#include "analytics/trace_parser.h"
#include "support/temp_home.h"
#include "tree_generator.h"
#include "views/trace_view_model.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

TEST(TraceViewModelTest, ReloadSelectsTheLatestSessionSearchesAndDiffs) {
    testing::TempHome home;
    bench::TreeGenerator::Options o;
    o.root = home.path() + "/projects";
    o.projects = 2;
    o.sessions = 6;
    o.targetBytes = 1 << 20;
    const auto expected = bench::TreeGenerator::generate(o);

    TraceViewModel model(o.root);
    model.search("parser");
    QSignalSpy loaded(&model, &TraceViewModel::loaded);
    model.reload();
    EXPECT_TRUE(model.isLoading());
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.count() == 1; }, 20000));
    EXPECT_FALSE(model.isLoading());
    EXPECT_EQ(model.totalUsage(), expected.total);
    ASSERT_EQ(model.sessionSummaries().size(), 6u);
    EXPECT_EQ(model.selectedSessionId(), model.sessionSummaries().front().sessionId);
    for (size_t i = 1; i < model.sessionSummaries().size(); ++i) {
        EXPECT_GE(model.sessionSummaries()[i - 1].lastAt, model.sessionSummaries()[i].lastAt);
    }
    EXPECT_EQ(model.dailyBuckets().size(), 7u);
    EXPECT_EQ(model.searchHits(), TraceSearch::run("parser", TraceParser::scanAll(o.root)));
    EXPECT_FALSE(model.searchHits().empty());
    ASSERT_TRUE(QTest::qWaitFor([&] { return !model.diffsForSelectedSession().empty(); }, 20000));
    for (const auto& d : model.diffsForSelectedSession()) {
        EXPECT_TRUE(d.isSignificant());
    }

    // A selection made by the user stays over reloads; an append shows up.
    const std::string chosen = model.sessionSummaries().back().sessionId;
    model.selectSession(chosen);
    const std::string file = TraceParser::transcriptFiles(o.root).front();
    testing::writeFile(file,
                       testing::readFile(file) +
                           "\n{\"type\":\"assistant\",\"uuid\":\"n\",\"sessionId\":\"new\",\"timestamp\":"
                           "\"2020-01-01T00:00:00Z\",\"message\":{\"usage\":{\"output_tokens\":7}}}\n");
    model.reload();
    ASSERT_TRUE(QTest::qWaitFor([&] { return loaded.count() == 2; }, 20000));
    EXPECT_EQ(model.selectedSessionId(), chosen);
    EXPECT_EQ(model.totalUsage(), expected.total + TokenUsage({0, 7, 0, 0}));
    model.search("  ");
    ASSERT_TRUE(QTest::qWaitFor([&] { return model.searchHits().empty(); }, 20000));
}

} // namespace
} // namespace perchwell
