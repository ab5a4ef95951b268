#include "views/dashboard_view_model.h"

#include "analytics/local_calendar.h"
#include "analytics/task_clusterer.h"
#include "analytics/weekly_report.h"
#include "common/system_log.h"
#include "views/main_thread.h"

#include <QUrl>

#include <algorithm>
#include <chrono>
#include <map>

namespace perchwell {
namespace {

double systemNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

// Enough rows to find five typed prompts among the tool results of a busy session.
constexpr int recentScanLimit = 500;

} // namespace

struct DashboardViewModel::Snapshot {
    std::vector<UserEntry> week; // typed prompts since weekStart, oldest first
    std::vector<UserEntry> recent;
    WorkflowStore::Totals totals;
    double now = 0;
};

DashboardViewModel::DashboardViewModel(WorkflowStore& store, QObject* parent)
    : QObject(parent), store_(store), clock_(systemNow) {}

int64_t DashboardViewModel::countContextSwitches(const std::vector<UserEntry>& prompts) {
    int64_t switches = 0;
    for (size_t i = 1; i < prompts.size(); ++i) {
        if (prompts[i].cwd.value_or("") != prompts[i - 1].cwd.value_or("")) {
            ++switches;
        }
    }
    return switches;
}

double DashboardViewModel::weekStart() const {
    return LocalCalendar::startOfDay(LocalCalendar::dayNumber(clock_()) - 7);
}

void DashboardViewModel::reload() {
    isLoading_ = true;
    emit loadingChanged();
    const double now = clock_();
    const double since = weekStart();
    store_.async(
        [since, now](WorkflowStore& store) {
            Snapshot s;
            s.now = now;
            s.week = TaskClusterer::typedPrompts(store.userPrompts(since));
            s.totals = store.totals();
            for (auto it = s.week.rbegin(); it != s.week.rend() && s.recent.size() < recentLimit; ++it) {
                s.recent.push_back(*it);
            }
            if (s.recent.size() < recentLimit) {
                s.recent = TaskClusterer::typedPrompts(store.recentUserPrompts(recentScanLimit));
                s.recent.resize(std::min<size_t>(s.recent.size(), recentLimit));
            }
            return s;
        },
        [guard = QPointer(this)](Snapshot s) {
            deliverToMainThread(
                guard, [s = std::move(s)](DashboardViewModel& model) mutable { model.apply(std::move(s)); });
        });
}

void DashboardViewModel::apply(Snapshot s) {
    const int64_t today = LocalCalendar::dayNumber(s.now);
    const int64_t firstDay = today - (histogramDays - 1);
    std::vector<int64_t> perDay(histogramDays, 0);
    std::map<std::string, int64_t> perProject;
    int64_t todayCount = 0;
    LocalDayCache calendar;
    for (const auto& p : s.week) {
        const int64_t day = calendar.dayNumber(p.timestamp);
        if (day >= firstDay && day <= today) {
            ++perDay[static_cast<size_t>(day - firstDay)];
        }
        if (day == today) {
            ++todayCount;
            ++perProject[p.cwd.value_or("")];
        }
    }
    dailyHistogram_.clear();
    for (int i = 0; i < histogramDays; ++i) {
        dailyHistogram_.push_back({LocalCalendar::startOfDay(firstDay + i), perDay[static_cast<size_t>(i)]});
    }
    projectActivity_.clear();
    for (const auto& [cwd, count] : perProject) {
        projectActivity_.push_back({cwd, count});
    }
    std::stable_sort(projectActivity_.begin(), projectActivity_.end(),
                     [](const auto& a, const auto& b) { return a.promptCount > b.promptCount; });
    recentPrompts_ = std::move(s.recent);
    totals_ = s.totals;
    tasks_ = TaskClusterer::cluster(std::move(s.week), taskGap);
    if (tasks_.size() > taskLimit) {
        tasks_.resize(taskLimit);
    }
    if (todayCount != todayPromptCount_) {
        todayPromptCount_ = todayCount;
        emit todayPromptCountChanged();
    }
    const int64_t switches = countContextSwitches(recentPrompts_);
    if (switches != contextSwitchCount_) {
        contextSwitchCount_ = switches;
        emit contextSwitchCountChanged();
    }
    lastLoaded_ = clock_();
    isLoading_ = false;
    emit loaded();
    emit loadingChanged();
}

void DashboardViewModel::generateWeeklyReport(const std::string& ollamaBaseURL,
                                              const std::string& ollamaModel, bool ollamaEnabled) {
    weeklyReportInFlight_ = true;
    emit weeklyReportChanged();
    const double since = weekStart();
    store_.async(
        [since](WorkflowStore& store) { return TaskClusterer::typedPrompts(store.userPrompts(since)); },
        [guard = QPointer(this), url = ollamaBaseURL, model = ollamaModel,
         enabled = ollamaEnabled](std::vector<UserEntry> prompts) {
            deliverToMainThread(guard, [=, prompts = std::move(prompts)](DashboardViewModel& self) mutable {
                const auto tasks = TaskClusterer::cluster(std::move(prompts), taskGap);
                const std::string stub = WeeklyReport::ruleBasedReport(tasks);
                const QUrl parsed(QString::fromStdString(url), QUrl::StrictMode);
                if (!enabled || !parsed.isValid() || parsed.scheme().isEmpty() || model.empty() ||
                    !self.generatorFactory_) {
                    systemlog::write("[Perchwell] weeklyReport: Ollama disabled or unconfigured — using "
                                     "rule-based stub");
                    self.finishReport(stub);
                    return;
                }
                self.generator_ = self.generatorFactory_(url);
                if (!self.generator_) {
                    systemlog::write("[Perchwell] weeklyReport: Ollama URL rejected by SSRF guard — using "
                                     "rule-based stub");
                    self.finishReport(stub);
                    return;
                }
                const std::string prompt = WeeklyReport::ollamaPrompt(tasks);
                self.generator_->isReachable([guard = QPointer(&self), url, model, stub, prompt](bool up) {
                    if (!guard) {
                        return;
                    }
                    if (!up) {
                        systemlog::write("[Perchwell] weeklyReport: Ollama at " + url +
                                         " unreachable — using rule-based stub");
                        guard->finishReport(stub);
                        return;
                    }
                    guard->generator_->generate(
                        model, prompt, WeeklyReport::systemText, 800, 0.3,
                        [guard, stub](Result<std::string> answer) {
                            if (!guard) {
                                return;
                            }
                            guard->finishReport(
                                answer ? std::string(QString::fromStdString(*answer).trimmed().toStdString())
                                       : WeeklyReport::withFailureNote(stub, answer.error().message));
                        });
                });
            });
        });
}

void DashboardViewModel::finishReport(std::string text) {
    weeklyReport_ = std::move(text);
    weeklyReportInFlight_ = false;
    emit weeklyReportChanged();
}

} // namespace perchwell
