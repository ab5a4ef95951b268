#pragma once

#include <QScrollArea>

class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;
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
    QTreeWidget* sessionList() const { return sessions_; }

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
    QTreeWidget* sessions_;
    QLineEdit* search_;
    QVBoxLayout* hits_;
    QVBoxLayout* diffs_;
};

} // namespace perchwell
