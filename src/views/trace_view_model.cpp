#include "views/trace_view_model.h"

#include "views/main_thread.h"

#include <chrono>

namespace perchwell {
namespace {

double systemNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

} // namespace

struct TraceViewModel::Figures {
    std::vector<TokenAnalytics::SessionSummary> sessions;
    std::vector<TokenAnalytics::DailyBucket> days;
    std::vector<TokenAnalytics::ProjectSummary> projects;
    TokenUsage total;
    size_t entries = 0;
    std::vector<TraceSearch::Hit> hits;
};

TraceViewModel::TraceViewModel(std::string root, QObject* parent)
    : QObject(parent), clock_(systemNow), index_(std::make_unique<TraceIndex>(std::move(root))) {}

TraceViewModel::~TraceViewModel() = default;

void TraceViewModel::reload() {
    isLoading_ = true;
    emit loadingChanged();
    const double now = clock_();
    worker_.submit(
        [this, now, query = searchQuery_] {
            index_->refresh();
            const auto& ledger = index_->ledger();
            return Figures{ledger.sessionSummaries(), ledger.dailyBuckets(dayCount, now),
                           ledger.projectSummaries(), ledger.total(),
                           index_->entryCount(),      index_->search(query)};
        },
        [guard = QPointer(this)](Figures figures) {
            deliverToMainThread(
                guard, [f = std::move(figures)](TraceViewModel& m) mutable { m.apply(std::move(f)); });
        });
}

void TraceViewModel::apply(Figures f) {
    sessionSummaries_ = std::move(f.sessions);
    dailyBuckets_ = std::move(f.days);
    projectSummaries_ = std::move(f.projects);
    totalUsage_ = f.total;
    entryCount_ = f.entries;
    searchHits_ = std::move(f.hits);
    emit searchHitsChanged();
    if (!selectedSessionId_ && !sessionSummaries_.empty()) {
        selectedSessionId_ = sessionSummaries_.front().sessionId; // the most recently active
        emit selectionChanged();
    }
    loadDiffs();
    lastLoaded_ = clock_();
    isLoading_ = false;
    emit loaded();
    emit loadingChanged();
}

void TraceViewModel::selectSession(std::optional<std::string> sessionId) {
    selectedSessionId_ = std::move(sessionId);
    emit selectionChanged();
    loadDiffs();
}

void TraceViewModel::loadDiffs() {
    const uint64_t generation = ++diffGeneration_;
    if (!selectedSessionId_) {
        diffs_.clear();
        emit diffsChanged();
        return;
    }
    worker_.submit(
        [this, id = *selectedSessionId_] {
            return TurnDiffEngine::significantDiffs(index_->sessionTurns(id));
        },
        [guard = QPointer(this), generation](std::vector<TurnDiff> diffs) {
            deliverToMainThread(guard, [generation, d = std::move(diffs)](TraceViewModel& m) mutable {
                if (generation == m.diffGeneration_) { // a newer selection wins
                    m.diffs_ = std::move(d);
                    emit m.diffsChanged();
                }
            });
        });
}

void TraceViewModel::search(std::string query) {
    searchQuery_ = std::move(query);
    const uint64_t generation = ++searchGeneration_;
    worker_.submit([this, q = searchQuery_] { return index_->search(q); },
                   [guard = QPointer(this), generation](std::vector<TraceSearch::Hit> hits) {
                       deliverToMainThread(guard,
                                           [generation, h = std::move(hits)](TraceViewModel& m) mutable {
                                               if (generation == m.searchGeneration_) {
                                                   m.searchHits_ = std::move(h);
                                                   emit m.searchHitsChanged();
                                               }
                                           });
                   });
}

} // namespace perchwell
