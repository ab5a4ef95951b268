#include "views/dashboard/today_lens.h"

#include "state/settings_store.h"
#include "views/dashboard/bar_chart.h"
#include "views/dashboard/dashboard_format.h"
#include "views/dashboard/dashboard_widgets.h"
#include "views/dashboard_view_model.h"

#include <QApplication>
#include <QBoxLayout>
#include <QClipboard>
#include <QDateTime>
#include <QGridLayout>
#include <QPushButton>
#include <QStyle>

namespace perchwell {
namespace W = DashboardWidgets;
namespace F = DashboardFormat;
using DashboardFormat::text;

namespace {

QString oneLine(const std::string& s) {
    return text(s).simplified();
}

QFrame* row(QBoxLayout** layout) {
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("row"));
    *layout = new QVBoxLayout(frame);
    (*layout)->setContentsMargins(10, 7, 10, 7);
    (*layout)->setSpacing(2);
    return frame;
}

} // namespace

TodayLens::TodayLens(DashboardViewModel& model, SettingsStore* settings, QWidget* parent)
    : QScrollArea(parent), model_(model), settings_(settings) {
    auto* page = W::scrollPage(this);

    auto* refresh = W::refreshButton();
    connect(refresh, &QPushButton::clicked, this, [this] { model_.reload(); });
    QVBoxLayout* titles = nullptr;
    page->addLayout(W::header(QStringLiteral("Today"), refresh, &titles));
    auto* subtitle = new QHBoxLayout;
    updated_ = W::label({}, "muted");
    total_ = W::label({}, "muted");
    loading_ = W::label(QStringLiteral("Loading..."), "loading");
    subtitle->addWidget(updated_);
    subtitle->addWidget(W::label(QStringLiteral("·"), "muted"));
    subtitle->addWidget(total_);
    subtitle->addWidget(loading_);
    subtitle->addStretch();
    titles->addLayout(subtitle);

    metrics_ = new QVBoxLayout;
    page->addLayout(metrics_);
    page->addWidget(W::section(QStringLiteral("Today by Project"), &projects_));
    page->addWidget(W::section(QStringLiteral("Recent Tasks (7-day clusters)"), &tasks_));

    QVBoxLayout* report = nullptr;
    page->addWidget(W::section(QStringLiteral("Weekly Report"), &report,
                               QStringLiteral("Generate a markdown report, then copy it with one click")));
    auto* buttons = new QHBoxLayout;
    generate_ = new QPushButton(style()->standardIcon(QStyle::SP_FileDialogDetailedView),
                                QStringLiteral("Generate Report"));
    copy_ = new QPushButton(style()->standardIcon(QStyle::SP_DialogSaveButton), QStringLiteral("Copy"));
    buttons->addWidget(generate_);
    buttons->addWidget(copy_);
    buttons->addStretch();
    report->addLayout(buttons);
    report_ = W::label({});
    report_->setWordWrap(true);
    report_->setTextFormat(Qt::MarkdownText);
    report->addWidget(report_);
    connect(generate_, &QPushButton::clicked, this, [this] {
        if (settings_) {
            model_.generateWeeklyReport(settings_->ollamaBaseURL().toStdString(),
                                        settings_->ollamaModel().toStdString(), settings_->ollamaEnabled());
        } else {
            model_.generateWeeklyReport({}, {}, false);
        }
    });
    connect(copy_, &QPushButton::clicked, this, [this] {
        if (model_.weeklyReport()) {
            QApplication::clipboard()->setText(text(*model_.weeklyReport()));
        }
    });

    page->addWidget(W::section(QStringLiteral("Last 7 Days"), &history_));
    page->addWidget(W::section(QStringLiteral("Recent Prompts"), &prompts_));
    page->addStretch();

    connect(&model_, &DashboardViewModel::loaded, this, &TodayLens::refill);
    connect(&model_, &DashboardViewModel::loadingChanged, this, &TodayLens::showLoading);
    connect(&model_, &DashboardViewModel::weeklyReportChanged, this, &TodayLens::showReport);
    refill();
    showLoading();
    showReport();
}

void TodayLens::shown() {
    model_.reload();
}

void TodayLens::showLoading() {
    loading_->setVisible(model_.isLoading());
}

void TodayLens::showReport() {
    const auto& report = model_.weeklyReport();
    generate_->setEnabled(!model_.weeklyReportInFlight());
    copy_->setVisible(report.has_value());
    report_->setVisible(report.has_value());
    report_->setText(report ? text(*report) : QString());
}

void TodayLens::refill() {
    const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000;
    updated_->setText(QStringLiteral("Updated ") +
                      (model_.lastLoaded()
                           ? QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(*model_.lastLoaded() * 1000))
                                 .toString(QStringLiteral("HH:mm:ss"))
                           : QStringLiteral("—")));
    total_->setText(F::grouped(model_.totals().userPrompts) + QStringLiteral(" prompts total"));

    W::clear(metrics_);
    auto* cards = new QHBoxLayout;
    cards->setSpacing(10);
    cards->addWidget(W::metric(QStringLiteral("Today's prompts"), F::grouped(model_.todayPromptCount()),
                               QColor(0x3b7ddd)));
    cards->addWidget(W::metric(QStringLiteral("Active projects"),
                               F::grouped(static_cast<int64_t>(model_.projectActivity().size())),
                               QColor(0x2f9e6e)));
    cards->addWidget(
        W::metric(QStringLiteral("Total sessions"), F::grouped(model_.totals().sessions), QColor(0x8a63d2)));
    cards->addWidget(W::metric(QStringLiteral("Context switches"), F::grouped(model_.contextSwitchCount()),
                               QColor(0xd9822b)));
    metrics_->addLayout(cards);

    W::clear(projects_);
    if (model_.projectActivity().empty()) {
        projects_->addWidget(W::emptyState(QStringLiteral("No data for today yet")));
    } else {
        auto* chart = new BarChart(BarChart::Orientation::rows);
        chart->setSeries({{QStringLiteral("Prompts"), QColor(0x3b7ddd)}});
        std::vector<BarChart::Bar> bars;
        for (const auto& p : model_.projectActivity()) {
            bars.push_back({text(p.cwd), {static_cast<double>(p.promptCount)}, F::grouped(p.promptCount)});
        }
        chart->setBars(std::move(bars));
        projects_->addWidget(chart);
    }

    W::clear(tasks_);
    if (model_.tasks().empty()) {
        tasks_->addWidget(W::emptyState(QStringLiteral("No tasks yet")));
    }
    for (const auto& task : model_.tasks()) {
        QBoxLayout* card = nullptr;
        tasks_->addWidget(row(&card));
        auto* top = new QHBoxLayout;
        top->addWidget(W::elided(text(task.title), "strong"), 1);
        top->addWidget(W::label(F::grouped(task.promptCount) + QStringLiteral(" prompts"), "badge"));
        card->addLayout(top);
        card->addWidget(W::elided(text(task.cwd) + QStringLiteral("  ·  ") +
                                      F::clockTime(task.startedAt, now) + QStringLiteral(" – ") +
                                      F::clockTime(task.endedAt, now),
                                  "muted"));
        QStringList crumbs;
        for (const auto& c : task.breadcrumb) {
            crumbs << text(c);
        }
        card->addWidget(W::elided(crumbs.join(QStringLiteral("  ›  ")), "muted"));
    }

    W::clear(history_);
    if (model_.dailyHistogram().empty()) {
        history_->addWidget(W::emptyState(QStringLiteral("No history yet")));
    } else {
        auto* chart = new BarChart(BarChart::Orientation::columns);
        chart->setSeries({{QStringLiteral("Prompts"), QColor(0x3b7ddd)}});
        std::vector<BarChart::Bar> bars;
        for (const auto& d : model_.dailyHistogram()) {
            const auto day = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(d.day * 1000));
            bars.push_back(
                {day.toString(QStringLiteral("ddd d")), {static_cast<double>(d.count)}, F::grouped(d.count)});
        }
        chart->setBars(std::move(bars));
        history_->addWidget(chart);
    }

    W::clear(prompts_);
    if (model_.recentPrompts().empty()) {
        prompts_->addWidget(W::emptyState(QStringLiteral("No prompts yet. Backfill may still be running.")));
    }
    for (const auto& p : model_.recentPrompts()) {
        QBoxLayout* card = nullptr;
        prompts_->addWidget(row(&card));
        card->addWidget(W::elided(oneLine(p.content), nullptr));
        QString where = p.gitBranch ? text(*p.gitBranch) + QStringLiteral("  ·  ") : QString();
        where += text(p.cwd.value_or("")) + QStringLiteral("  ·  ") + F::clockTime(p.timestamp, now);
        card->addWidget(W::elided(where, "muted"));
    }
}

} // namespace perchwell
