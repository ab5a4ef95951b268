#include "views/dashboard/trace_lens.h"

#include "views/dashboard/bar_chart.h"
#include "views/dashboard/dashboard_format.h"
#include "views/dashboard/dashboard_widgets.h"
#include "views/trace_view_model.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QTreeView>

namespace perchwell {
namespace W = DashboardWidgets;
namespace F = DashboardFormat;
using DashboardFormat::text;

namespace {

const QColor kindColors[] = {QColor(0x3b7ddd), QColor(0x2f9e6e), QColor(0xc9c3f0), QColor(0xe8a54b)};

std::vector<BarChart::Series> usageSeries() {
    return {{QStringLiteral("Input"), kindColors[0]},
            {QStringLiteral("Output"), kindColors[1]},
            {QStringLiteral("Cache Read"), kindColors[2]},
            {QStringLiteral("Cache Write"), kindColors[3]}};
}

std::vector<double> kinds(const TokenUsage& u) {
    return {static_cast<double>(u.inputTokens), static_cast<double>(u.outputTokens),
            static_cast<double>(u.cacheReadInputTokens), static_cast<double>(u.cacheCreationInputTokens)};
}

QString signedTokens(int64_t delta) {
    return (delta > 0 ? QStringLiteral("+") : QString()) + F::tokens(delta);
}

QString toolNames(const std::vector<ToolUseBlock>& tools) {
    QStringList names;
    for (const auto& t : tools) {
        names << text(t.name);
    }
    return names.join(QStringLiteral(", "));
}

} // namespace

TraceLens::TraceLens(TraceViewModel& model, QWidget* parent)
    : QScrollArea(parent), model_(model), builder_(20, this) {
    auto* page = W::scrollPage(this);

    refresh_ = W::refreshButton();
    connect(refresh_, &QPushButton::clicked, this, [this] { model_.reload(); });
    QVBoxLayout* titles = nullptr;
    page->addLayout(W::header(QStringLiteral("Trace"), refresh_, &titles));
    auto* subtitle = new QHBoxLayout;
    subtitle->addWidget(
        W::label(QStringLiteral("Visualize prompts, token burn, tool calls, and turn diffs."), "muted"));
    loading_ = W::label(QStringLiteral("Loading..."), "loading");
    subtitle->addWidget(loading_);
    subtitle->addStretch();
    titles->addLayout(subtitle);

    QVBoxLayout* usage = nullptr;
    page->addWidget(W::section(QStringLiteral("Token Usage"), &usage));
    usage_ = new QVBoxLayout;
    usage->addLayout(usage_);
    usage->addSpacing(6);
    usage->addWidget(W::label(QStringLiteral("Last 7 days"), "muted"));
    perDay_ = new BarChart(BarChart::Orientation::columns);
    perDay_->setSeries(usageSeries());
    usage->addWidget(perDay_);
    usage->addSpacing(6);
    usage->addWidget(W::label(QStringLiteral("By project"), "muted"));
    perProject_ = new BarChart(BarChart::Orientation::rows);
    perProject_->setSeries(usageSeries());
    perProject_->setLegendShown(false); // the day chart above has it
    usage->addWidget(perProject_);

    QVBoxLayout* bySession = nullptr;
    page->addWidget(W::section(QStringLiteral("By Session"), &bySession));
    sessions_ = new QTreeView;
    sessions_->setModel(&sessionRows_);
    sessions_->setRootIsDecorated(false);
    sessions_->setUniformRowHeights(true);
    sessions_->setAllColumnsShowFocus(true);
    sessions_->setMinimumHeight(220);
    sessions_->header()->setStretchLastSection(false);
    sessions_->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    sessions_->header()->setSectionResizeMode(1, QHeaderView::Stretch);
    sessions_->header()->setSectionResizeMode(2, QHeaderView::Fixed);
    sessions_->header()->setSectionResizeMode(3, QHeaderView::Fixed);
    sessions_->header()->resizeSection(2, 90);
    sessions_->header()->resizeSection(3, 80);
    bySession->addWidget(sessions_);
    connect(sessions_->selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current) {
                if (current.isValid()) {
                    const auto& id = sessionRows_.summary(current.row()).sessionId;
                    if (model_.selectedSessionId() != id) {
                        model_.selectSession(id);
                    }
                }
            });

    QVBoxLayout* search = nullptr;
    page->addWidget(W::section(QStringLiteral("Search Prompts / Tools / Output"), &search));
    search_ = new QLineEdit;
    search_->setPlaceholderText(QStringLiteral("keywords (space = AND)"));
    search_->setClearButtonEnabled(true);
    connect(search_, &QLineEdit::returnPressed, this,
            [this] { model_.search(search_->text().toStdString()); });
    search->addWidget(search_);
    hits_ = new QVBoxLayout;
    hits_->setSpacing(4);
    search->addLayout(hits_);

    QVBoxLayout* diffs = nullptr;
    page->addWidget(W::section(QStringLiteral("Adjacent Turn Diff"), &diffs));
    diffs_ = new QVBoxLayout;
    diffs_->setSpacing(6);
    diffs->addLayout(diffs_);
    page->addStretch();

    connect(&model_, &TraceViewModel::loaded, this, &TraceLens::refill);
    connect(&model_, &TraceViewModel::loadingChanged, this, &TraceLens::showLoading);
    connect(&model_, &TraceViewModel::searchHitsChanged, this, &TraceLens::refillHits);
    connect(&model_, &TraceViewModel::diffsChanged, this, &TraceLens::refillDiffs);
    refill();
    refillHits();
    refillDiffs();
    showLoading();
}

void TraceLens::shown() {
    model_.reload();
}

void TraceLens::showLoading() {
    loading_->setVisible(model_.isLoading());
    refresh_->setEnabled(!model_.isLoading());
}

void TraceLens::refill() {
    const TokenUsage& total = model_.totalUsage();
    W::clear(usage_);
    auto* figures = new QHBoxLayout;
    figures->setSpacing(10);
    const QString names[] = {QStringLiteral("Input"), QStringLiteral("Output"), QStringLiteral("Cache Read"),
                             QStringLiteral("Cache Write")};
    const int64_t values[] = {total.inputTokens, total.outputTokens, total.cacheReadInputTokens,
                              total.cacheCreationInputTokens};
    for (int i = 0; i < 4; ++i) {
        auto* figure = W::metric(names[i], F::tokens(values[i]), kindColors[i]);
        figure->setToolTip(F::grouped(values[i]) + QStringLiteral(" tokens"));
        figures->addWidget(figure);
    }
    usage_->addLayout(figures);
    if (const auto hit = total.cacheHitPercent()) {
        usage_->addWidget(W::label(QStringLiteral("Cache hit rate ") + QString::number(*hit) +
                                       QStringLiteral("% - higher is cheaper"),
                                   "muted"));
    }

    std::vector<BarChart::Bar> days;
    for (const auto& d : model_.dailyBuckets()) {
        const auto day = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(d.day * 1000));
        days.push_back(
            {day.toString(QStringLiteral("ddd d")), kinds(d.usage), F::tokens(d.usage.totalTokens())});
    }
    perDay_->setBars(std::move(days));
    std::vector<BarChart::Bar> projects;
    for (const auto& p : model_.projectSummaries()) {
        projects.push_back({text(p.cwd), kinds(p.usage), F::tokens(p.usage.totalTokens())});
    }
    perProject_->setBars(std::move(projects));

    const QSignalBlocker quiet(sessions_->selectionModel());
    sessionRows_.setSummaries(model_.sessionSummaries());
    if (const auto& id = model_.selectedSessionId()) {
        if (const int row = sessionRows_.rowOf(*id); row >= 0) {
            sessions_->setCurrentIndex(sessionRows_.index(row, 0));
        }
    }
}

void TraceLens::refillHits() {
    W::clear(hits_);
    const auto& hits = model_.searchHits();
    if (model_.searchQuery().find_first_not_of(" \t\n") == std::string::npos) {
        hits_->addWidget(W::emptyState(QStringLiteral("Enter keywords to search")));
        return;
    }
    if (hits.empty()) {
        hits_->addWidget(W::emptyState(QStringLiteral("No matches. Try shorter keywords.")));
        return;
    }
    hits_->addWidget(
        W::label(F::grouped(static_cast<int64_t>(hits.size())) + QStringLiteral(" matches"), "muted"));
    for (size_t i = 0; i < hits.size() && i < hitsShown; ++i) {
        auto* row = new QHBoxLayout;
        auto* field = W::label(F::fieldLabel(hits[i].field), "field");
        field->setFixedWidth(78);
        field->setAlignment(Qt::AlignCenter);
        row->addWidget(field, 0, Qt::AlignTop);
        row->addWidget(W::elided(text(hits[i].snippet).simplified()), 1);
        hits_->addLayout(row);
    }
    if (hits.size() > hitsShown) {
        hits_->addWidget(W::label(QStringLiteral("...and ") + QString::number(hits.size() - hitsShown) +
                                      QStringLiteral(" more"),
                                  "muted"));
    }
}

void TraceLens::refillDiffs() {
    builder_.start({});
    W::clear(diffs_);
    if (!model_.selectedSessionId()) {
        diffs_->addWidget(W::emptyState(QStringLiteral("Select a session above first")));
        return;
    }
    const auto& diffs = model_.diffsForSelectedSession();
    if (diffs.empty()) {
        diffs_->addWidget(W::emptyState(QStringLiteral("No significant adjacent changes in this session")));
        return;
    }
    std::vector<std::function<void()>> cards;
    for (const auto& diff : diffs) {
        cards.push_back([this, d = diff] {
            auto* frame = new QFrame;
            frame->setObjectName(QStringLiteral("row"));
            auto* card = new QVBoxLayout(frame);
            card->setContentsMargins(10, 7, 10, 7);
            card->setSpacing(2);
            if (d.modelChanged) {
                card->addWidget(
                    W::elided(QStringLiteral("Model ") + F::shortModel(d.previousModel.value_or("none")) +
                                  QStringLiteral(" → ") + F::shortModel(d.currentModel.value_or("none")),
                              "strong"));
            }
            if (!d.addedTools.empty()) {
                card->addWidget(W::elided(QStringLiteral("+ ") + toolNames(d.addedTools)));
            }
            if (!d.removedTools.empty()) {
                card->addWidget(W::elided(QStringLiteral("− ") + toolNames(d.removedTools), "muted"));
            }
            if (!d.commonToolNames.empty()) {
                QStringList names;
                for (const auto& n : d.commonToolNames) {
                    names << text(n);
                }
                card->addWidget(W::elided(QStringLiteral("= ") + names.join(QStringLiteral(", ")), "muted"));
            }
            QString line = QStringLiteral("Text length ") +
                           F::grouped(static_cast<int64_t>(d.textPreviousLength)) + QStringLiteral(" → ") +
                           F::grouped(static_cast<int64_t>(d.textCurrentLength));
            if (d.usageDelta) {
                line += QStringLiteral("  ·  Δ input ") + signedTokens(d.usageDelta->inputTokens) +
                        QStringLiteral(", output ") + signedTokens(d.usageDelta->outputTokens) +
                        QStringLiteral(", cache read ") + signedTokens(d.usageDelta->cacheReadInputTokens) +
                        QStringLiteral(", cache write ") +
                        signedTokens(d.usageDelta->cacheCreationInputTokens);
            }
            line += QStringLiteral("  ·  after ") + F::duration(d.wallClockDelta);
            card->addWidget(W::elided(line, "muted"));
            diffs_->addWidget(frame);
        });
    }
    builder_.start(std::move(cards));
}

} // namespace perchwell
