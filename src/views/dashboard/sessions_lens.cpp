#include "views/dashboard/sessions_lens.h"

#include "views/dashboard/dashboard_format.h"
#include "views/dashboard/dashboard_widgets.h"
#include "views/sessions_view_model.h"

#include <QBoxLayout>
#include <QDateTime>
#include <QLineEdit>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QToolButton>

namespace perchwell {
namespace W = DashboardWidgets;
namespace F = DashboardFormat;
using DashboardFormat::text;

namespace {

struct PolicyChoice {
    ReviewPolicyLevel level;
    const char* label;
    const char* color; // of the dot beside the label
};
constexpr PolicyChoice policyChoices[] = {
    {ReviewPolicyLevel::global, "Global", "#8a8983"},
    {ReviewPolicyLevel::permissive, "Permissive", "#2f9e6e"},
    {ReviewPolicyLevel::strict, "Strict", "#d9822b"},
    {ReviewPolicyLevel::manual, "Manual", "#c2413b"},
};

QIcon dot(const char* color) {
    QPixmap pixmap(12, 12);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(QLatin1String(color)));
    painter.drawEllipse(QRectF(2, 2, 8, 8));
    return QIcon(pixmap);
}

const PolicyChoice& choiceOf(ReviewPolicyLevel level) {
    for (const auto& c : policyChoices) {
        if (c.level == level) {
            return c;
        }
    }
    return policyChoices[0];
}

constexpr const char* columnNames[] = {"Active", "Idle", "Done"};
const QColor columnColors[] = {QColor(0x2f9e6e), QColor(0xd9822b), QColor(0x8a8983)};

} // namespace

SessionsLens::SessionsLens(SessionsViewModel& model, QWidget* parent)
    : QWidget(parent), launch(SessionsViewModel::launchClaudeSkipPermissions), model_(model),
      builder_(12, this) {
    auto* page = new QVBoxLayout(this);
    page->setContentsMargins(20, 16, 20, 12);
    page->setSpacing(12);

    auto* refresh = W::refreshButton();
    connect(refresh, &QPushButton::clicked, this, [this] { model_.reload(); });
    QVBoxLayout* titles = nullptr;
    page->addLayout(W::header(QStringLiteral("Sessions"), refresh, &titles));
    auto* subtitle = new QHBoxLayout;
    count_ = W::label({}, "muted");
    loading_ = W::label(QStringLiteral("Loading..."), "loading");
    subtitle->addWidget(count_);
    subtitle->addWidget(loading_);
    subtitle->addStretch();
    titles->addLayout(subtitle);

    chips_ = new QHBoxLayout;
    chips_->setSpacing(8);
    page->addLayout(chips_);

    search_ = new QLineEdit;
    search_->setPlaceholderText(QStringLiteral("Filter by project, branch, source…"));
    search_->setClearButtonEnabled(true);
    connect(search_, &QLineEdit::textChanged, this,
            [this](const QString& t) { model_.setSearchText(t.toStdString()); });
    page->addWidget(search_);

    // One scroll for the whole board: long columns keep their cards' natural height.
    auto* scroll = new QScrollArea;
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* inner = new QWidget;
    auto* board = new QHBoxLayout(inner);
    board->setContentsMargins(0, 0, 0, 0);
    board->setSpacing(10);
    for (int i = 0; i < 3; ++i) {
        auto* column = new QVBoxLayout;
        column->setSpacing(8);
        columnTitles_[i] = W::label({}, "section");
        column->addWidget(columnTitles_[i]);
        columns_[i] = new QVBoxLayout;
        columns_[i]->setSpacing(8);
        column->addLayout(columns_[i]);
        column->addStretch();
        board->addLayout(column, 1);
    }
    scroll->setWidget(inner);
    page->addWidget(scroll, 1);

    connect(&model_, &SessionsViewModel::sessionsChanged, this, &SessionsLens::refill);
    connect(&model_, &SessionsViewModel::searchTextChanged, this, &SessionsLens::refill);
    connect(&model_, &SessionsViewModel::loadingChanged, this,
            [this] { loading_->setVisible(model_.isLoading()); });
    loading_->setVisible(model_.isLoading());
    refill();
}

void SessionsLens::shown() {
    model_.reload();
}

void SessionsLens::refill() {
    count_->setText(F::grouped(static_cast<int64_t>(model_.sessions().size())) +
                    QStringLiteral(" sessions across all sources"));
    W::clear(chips_);
    for (const auto& [source, n] : model_.sourceBreakdown()) {
        chips_->addWidget(W::label(QString::fromUtf8(SessionsViewModel::displayLabel(source)) +
                                       QStringLiteral("  ") + F::grouped(n),
                                   "badge"));
    }
    chips_->addStretch();

    const std::vector<SessionCard> lists[] = {model_.activeSessions(), model_.idleSessions(),
                                              model_.doneSessions()};
    std::vector<std::function<void()>> cards;
    for (int i = 0; i < 3; ++i) {
        columnTitles_[i]->setText(QStringLiteral("<span style='color:%1'>●</span> %2  <span "
                                                 "style='color:#77766f;font-weight:400'>%3</span>")
                                      .arg(columnColors[i].name(), QLatin1String(columnNames[i]))
                                      .arg(lists[i].size()));
        W::clear(columns_[i]);
        if (lists[i].empty()) {
            columns_[i]->addWidget(W::emptyState(QStringLiteral("No sessions")));
        }
        for (const auto& session : lists[i]) {
            cards.push_back([this, i, session] { columns_[i]->addWidget(card(session)); });
        }
    }
    builder_.start(std::move(cards));
}

QWidget* SessionsLens::card(const SessionCard& session) {
    const double now = static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000;
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("card"));
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(10, 8, 10, 8);
    layout->setSpacing(3);
    layout->addWidget(W::elided(text(session.projectName), "strong"));
    if (session.gitBranch) {
        layout->addWidget(W::elided(QStringLiteral("⎇ ") + text(*session.gitBranch), "muted"));
    }
    layout->addWidget(W::elided(F::grouped(session.promptCount) + QStringLiteral(" prompts · ") +
                                    F::grouped(session.turnCount) + QStringLiteral(" turns"),
                                "muted"));
    QString times;
    if (session.firstActivity && session.lastActivity) {
        times = QStringLiteral("◷ ") + F::duration(*session.lastActivity - *session.firstActivity);
    }
    if (session.lastActivity) {
        times += QStringLiteral("  ↻ ") + F::age(*session.lastActivity, now);
    }
    layout->addWidget(W::elided(times, "muted"));

    auto* badges = new QHBoxLayout;
    badges->setSpacing(4);
    badges->addWidget(W::label(QString::fromUtf8(SessionsViewModel::displayLabel(session.source)), "badge"));
    auto* policy = new QToolButton;
    const auto& current = choiceOf(session.policy);
    policy->setText(QString::fromUtf8(current.label));
    policy->setIcon(dot(current.color));
    policy->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    policy->setPopupMode(QToolButton::InstantPopup);
    auto* menu = new QMenu(policy);
    for (const auto& choice : policyChoices) {
        QAction* action = menu->addAction(dot(choice.color), QString::fromUtf8(choice.label));
        action->setCheckable(true);
        action->setChecked(choice.level == session.policy);
        connect(action, &QAction::triggered, this,
                [this, id = session.sessionId, level = choice.level] { model_.setPolicy(id, level); });
    }
    policy->setMenu(menu);
    badges->addWidget(policy);
    badges->addStretch();
    layout->addLayout(badges);

    auto* skip = new QPushButton(QStringLiteral("Skip-perms"));
    skip->setIcon(style()->standardIcon(QStyle::SP_MediaSeekForward));
    skip->setToolTip(text(SessionsViewModel::launchHelpText(session.cwd)));
    skip->setEnabled(!session.cwd.empty());
    connect(skip, &QPushButton::clicked, this, [this, cwd = session.cwd] {
        if (launch) {
            launch(cwd);
        }
    });
    layout->addWidget(skip, 0, Qt::AlignLeft);
    return frame;
}

} // namespace perchwell
