#pragma once

#include "views/dashboard/chunked_builder.h"
#include "views/dashboard/session_summary_model.h"

#include <QScrollArea>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeView;
class QVBoxLayout;

namespace perchwell {

class BarChart;
class TraceViewModel;

// The Trace lens: token figures and their burn per day and per project, the sessions,
// keyword search over every transcript, and the turn diffs of the selected session.
class TraceLens : public QScrollArea {
    Q_OBJECT
public:
    explicit TraceLens(TraceViewModel& model, QWidget* parent = nullptr);

    static constexpr int hitsShown = 20;

    void shown();
    QLineEdit* searchField() const { return search_; }
    QTreeView* sessionList() const { return sessions_; }
    bool building() const { return builder_.busy(); }

private:
    void refill();
    void refillHits();
    void refillDiffs();
    void showLoading();

    TraceViewModel& model_;
    QPushButton* refresh_;
    QLabel* loading_;
    QVBoxLayout* usage_;
    BarChart* perDay_;
    BarChart* perProject_;
    SessionSummaryModel sessionRows_;
    QTreeView* sessions_;
    QLineEdit* search_;
    QVBoxLayout* hits_;
    QVBoxLayout* diffs_;
    ChunkedBuilder builder_;
};

} // namespace perchwell
