// How long the "Receipts" window takes to open over a big store, and how long the main
// thread stalls while the lenses switch and their models answer.
// Usage: dashboard_bench [prompts] (default 100000). Runs in a scratch home.
#include "dashboard_sample.h"
#include "views/dashboard/dashboard_view.h"
#include "views/dashboard_view_model.h"
#include "views/sessions_view_model.h"
#include "views/trace_view_model.h"
#include "workflow/workflow_store.h"

#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <unistd.h>

using namespace perchwell;

namespace {

// The longest gap between two ticks of a 2 ms timer: how long the main thread was busy.
class StallMeter {
public:
    StallMeter() {
        timer_.setInterval(2);
        QObject::connect(&timer_, &QTimer::timeout, [this] { worst_ = std::max(worst_, clock_.restart()); });
    }
    void start() {
        worst_ = 0;
        clock_.start();
        timer_.start();
    }
    qint64 stop() {
        timer_.stop();
        return std::max(worst_, clock_.elapsed());
    }

private:
    QTimer timer_;
    QElapsedTimer clock_;
    qint64 worst_ = 0;
};

bool waitFor(const std::function<bool()>& done, int ms = 600000) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return done();
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    const int prompts = argc > 1 ? std::atoi(argv[1]) : 100000;
    const auto home =
        std::filesystem::temp_directory_path() / ("pw-dashboard-bench-" + std::to_string(getpid()));
    std::filesystem::create_directories(home);
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_DATA_HOME", (home / ".local/share").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
    QApplication app(argc, argv);
    {
        auto store = WorkflowStore::open();
        if (!store) {
            std::fprintf(stderr, "store: %s\n", store.error().message.c_str());
            return 1;
        }
        const std::string root = (home / ".claude/projects").string();
        QElapsedTimer t;
        t.start();
        const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000;
        const auto written = bench::DashboardSample::generate({root, store->get(), prompts, 60, now, 11});
        std::printf("store: %lld prompts in %lld sessions, %lld transcript lines (generated in %.1f s)\n",
                    static_cast<long long>(written.prompts), static_cast<long long>(written.sessions),
                    static_cast<long long>(written.lines), static_cast<double>(t.elapsed()) / 1000);

        StallMeter stall;
        stall.start();
        t.restart();
        // What openDashboard does on the click.
        DashboardView view(**store, nullptr, root);
        view.show();
        QCoreApplication::processEvents();
        const qint64 shown = t.elapsed();
        waitFor([&] { return view.dashboardModel().lastLoaded().has_value(); });
        const qint64 filled = t.elapsed();
        QCoreApplication::processEvents();
        std::printf("open: window on screen after %lld ms, Today filled after %lld ms, longest main-thread "
                    "stall %lld ms\n",
                    static_cast<long long>(shown), static_cast<long long>(filled),
                    static_cast<long long>(stall.stop()));

        struct Step {
            DashboardView::Lens lens;
            const char* name;
            std::function<bool()> done;
        };
        const Step steps[] = {
            {DashboardView::Lens::sessions, "Sessions", [&] { return !view.sessionsModel().isLoading(); }},
            {DashboardView::Lens::trace, "Trace (first read)",
             [&] { return !view.traceModel().isLoading() && view.traceModel().lastLoaded(); }},
            {DashboardView::Lens::today, "Today", [&] { return !view.dashboardModel().isLoading(); }},
            {DashboardView::Lens::trace, "Trace (again)", [&] { return !view.traceModel().isLoading(); }},
            {DashboardView::Lens::sessions, "Sessions (again)",
             [&] { return !view.sessionsModel().isLoading(); }},
        };
        for (const auto& step : steps) {
            stall.start();
            t.restart();
            view.showLens(step.lens);
            const qint64 call = t.elapsed();
            waitFor(step.done);
            const qint64 filled = t.elapsed();
            QTimer::singleShot(20, [] {});
            waitFor([] { return false; }, 40); // the diffs and the layout settle
            std::printf(
                "switch to %-18s call %4lld ms, filled after %6lld ms, longest main-thread stall %4lld ms\n",
                step.name, static_cast<long long>(call), static_cast<long long>(filled),
                static_cast<long long>(stall.stop()));
        }
    }
    std::filesystem::remove_all(home);
    return 0;
}
