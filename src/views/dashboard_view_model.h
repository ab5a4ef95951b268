#pragma once

#include "analytics/workflow_task.h"
#include "views/report_generator.h"
#include "workflow/jsonl_entry.h"
#include "workflow/workflow_store.h"

#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace perchwell {

// Everything the Today tab shows, from the workflow store: today's prompts, context
// switches, recent prompts, activity per project, a seven-day histogram, the store's
// totals, the week's task clusters and, on demand, a weekly report. Only what the user
// typed counts as a prompt here; tool results stay in the store but not on this tab.
// Main thread only.
class DashboardViewModel : public QObject {
    Q_OBJECT
public:
    using Clock = std::function<double()>;

    explicit DashboardViewModel(WorkflowStore& store, QObject* parent = nullptr);

    static constexpr double taskGap = 1800;
    static constexpr size_t taskLimit = 10;
    static constexpr int recentLimit = 5;
    static constexpr int histogramDays = 7;

    int64_t todayPromptCount() const { return todayPromptCount_; }
    int64_t contextSwitchCount() const { return contextSwitchCount_; }
    const std::vector<UserEntry>& recentPrompts() const { return recentPrompts_; }
    const std::vector<WorkflowStore::ProjectActivity>& projectActivity() const { return projectActivity_; }
    const std::vector<WorkflowStore::DayCount>& dailyHistogram() const { return dailyHistogram_; }
    const WorkflowStore::Totals& totals() const { return totals_; }
    const std::vector<WorkflowTask>& tasks() const { return tasks_; }
    const std::optional<std::string>& weeklyReport() const { return weeklyReport_; }
    bool weeklyReportInFlight() const { return weeklyReportInFlight_; }
    bool isLoading() const { return isLoading_; }
    std::optional<double> lastLoaded() const { return lastLoaded_; }
    WorkflowStore& workflowStore() const { return store_; }

    // Queries the store off the main thread; the properties change when it answers.
    void reload();
    void generateWeeklyReport(const std::string& ollamaBaseURL, const std::string& ollamaModel,
                              bool ollamaEnabled);

    // Neighbouring prompts whose working directories differ (absent reads as empty).
    static int64_t countContextSwitches(const std::vector<UserEntry>& prompts);

    // The Ollama client, when the application has one; without it the report is rule-based.
    void setReportGeneratorFactory(ReportGenerator::Factory factory) {
        generatorFactory_ = std::move(factory);
    }
    void setClock(Clock clock) { clock_ = std::move(clock); }

signals:
    void todayPromptCountChanged();
    void contextSwitchCountChanged();
    void loadingChanged();
    void loaded();
    void weeklyReportChanged();

private:
    struct Snapshot;
    void apply(Snapshot snapshot);
    void finishReport(std::string text);
    double weekStart() const;

    WorkflowStore& store_;
    Clock clock_;
    ReportGenerator::Factory generatorFactory_;
    std::unique_ptr<ReportGenerator> generator_; // of the report being written
    int64_t todayPromptCount_ = 0;
    int64_t contextSwitchCount_ = 0;
    std::vector<UserEntry> recentPrompts_;
    std::vector<WorkflowStore::ProjectActivity> projectActivity_;
    std::vector<WorkflowStore::DayCount> dailyHistogram_;
    WorkflowStore::Totals totals_;
    std::vector<WorkflowTask> tasks_;
    std::optional<std::string> weeklyReport_;
    bool weeklyReportInFlight_ = false;
    bool isLoading_ = false;
    std::optional<double> lastLoaded_;
};

} // namespace perchwell
