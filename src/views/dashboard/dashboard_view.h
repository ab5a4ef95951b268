#pragma once

#include <QTimer>
#include <QWidget>

#include <memory>
#include <string>

class QStackedWidget;
class QTabBar;

namespace perchwell {

class DashboardViewModel;
class SessionsLens;
class SessionsViewModel;
class SettingsStore;
class TodayLens;
class TraceLens;
class TraceViewModel;
class WorkflowStore;

// The "Receipts" window: the Today, Sessions and Trace lenses over the recorded work.
// Each lens reloads its model when it is shown. Main thread only.
class DashboardView : public QWidget {
    Q_OBJECT
public:
    enum class Lens { today, sessions, trace };

    // `traceRoot`: the projects directory the Trace reads. `settings` may be null.
    DashboardView(WorkflowStore& store, SettingsStore* settings, std::string traceRoot,
                  QWidget* parent = nullptr);
    ~DashboardView() override;

    static constexpr int debounceMs = 1500;

    Lens lens() const { return lens_; }
    void showLens(Lens lens);

    // Something was stored: the lens on screen reloads once things go quiet for a moment.
    void storeChanged();

    DashboardViewModel& dashboardModel() { return *dashboard_; }
    SessionsViewModel& sessionsModel() { return *sessions_; }
    TraceViewModel& traceModel() { return *trace_; }
    TodayLens& todayLens() { return *todayLens_; }
    SessionsLens& sessionsLens() { return *sessionsLens_; }
    TraceLens& traceLens() { return *traceLens_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void reloadShownLens();

    std::unique_ptr<DashboardViewModel> dashboard_;
    std::unique_ptr<SessionsViewModel> sessions_;
    std::unique_ptr<TraceViewModel> trace_;
    Lens lens_ = Lens::today;
    QTabBar* tabs_;
    QStackedWidget* stack_;
    TodayLens* todayLens_;
    SessionsLens* sessionsLens_;
    TraceLens* traceLens_;
    QTimer debounce_;
};

} // namespace perchwell
