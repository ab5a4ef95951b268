#pragma once

#include "analytics/token_analytics.h"
#include "analytics/trace_index.h"
#include "analytics/trace_search.h"
#include "analytics/turn_diff_engine.h"
#include "common/serial_executor.h"

#include <QObject>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace perchwell {

// The Trace tab: token burn per session, day and project over every transcript
// (sub-agents included, each message counted once), keyword search and the turn
// diffs of the selected session. The transcripts are read by a TraceIndex on a thread
// of the model's own; a reload reads only what changed since the last one. Properties
// are read and written on the main thread.
class TraceViewModel : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<double()>;

    // `root`: the projects directory (TraceParser::defaultRoot() in the application).
    explicit TraceViewModel(std::string root, QObject* parent = nullptr);
    ~TraceViewModel() override;

    static constexpr int dayCount = 7;

    const std::vector<TokenAnalytics::SessionSummary>& sessionSummaries() const { return sessionSummaries_; }
    const std::vector<TokenAnalytics::DailyBucket>& dailyBuckets() const { return dailyBuckets_; }
    const std::vector<TokenAnalytics::ProjectSummary>& projectSummaries() const { return projectSummaries_; }
    const TokenUsage& totalUsage() const { return totalUsage_; }
    size_t entryCount() const { return entryCount_; }
    bool isLoading() const { return isLoading_; }
    std::optional<double> lastLoaded() const { return lastLoaded_; }
    const std::optional<std::string>& selectedSessionId() const { return selectedSessionId_; }
    const std::string& searchQuery() const { return searchQuery_; }
    const std::vector<TraceSearch::Hit>& searchHits() const { return searchHits_; }
    // The significant adjacent changes of the selected session, oldest first.
    const std::vector<TurnDiff>& diffsForSelectedSession() const { return diffs_; }

    void reload();
    void selectSession(std::optional<std::string> sessionId);
    // Sets the query and searches; an empty query clears the hits.
    void search(std::string query);
    void setClock(Clock clock) { clock_ = std::move(clock); }

signals:
    void loadingChanged();
    void loaded();
    void searchHitsChanged();
    void selectionChanged();
    void diffsChanged();

private:
    struct Figures;
    void apply(Figures figures);
    void loadDiffs();

    Clock clock_;
    std::unique_ptr<TraceIndex> index_; // used on worker_ only
    std::vector<TokenAnalytics::SessionSummary> sessionSummaries_;
    std::vector<TokenAnalytics::DailyBucket> dailyBuckets_;
    std::vector<TokenAnalytics::ProjectSummary> projectSummaries_;
    TokenUsage totalUsage_;
    size_t entryCount_ = 0;
    bool isLoading_ = false;
    std::optional<double> lastLoaded_;
    std::optional<std::string> selectedSessionId_;
    std::string searchQuery_;
    std::vector<TraceSearch::Hit> searchHits_;
    std::vector<TurnDiff> diffs_;
    uint64_t searchGeneration_ = 0;
    uint64_t diffGeneration_ = 0;
    SerialExecutor worker_{"pw-trace"}; // last: drained before the index goes
};

} // namespace perchwell
