#pragma once

#include <QScrollArea>

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace perchwell {

class BarChart;
class DashboardViewModel;
class SettingsStore;

// The Today lens: today's counts, per project, the week's task clusters, the weekly
// report, the last seven days and the latest prompts.
class TodayLens : public QScrollArea {
    Q_OBJECT
public:
    // `settings` gives the report its Ollama set-up; without it the report is rule-based.
    TodayLens(DashboardViewModel& model, SettingsStore* settings, QWidget* parent = nullptr);

    // Reloads the model; the lens redraws when it answers.
    void shown();

private:
    void refill();
    void showLoading();
    void showReport();

    DashboardViewModel& model_;
    SettingsStore* settings_;
    QLabel* updated_;
    QLabel* total_;
    QLabel* loading_;
    QVBoxLayout* metrics_;
    QVBoxLayout* projects_;
    QVBoxLayout* tasks_;
    QVBoxLayout* history_;
    QVBoxLayout* prompts_;
    QLabel* report_;
    QPushButton* generate_;
    QPushButton* copy_;
};

} // namespace perchwell
