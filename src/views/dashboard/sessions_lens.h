#pragma once

#include "views/dashboard/chunked_builder.h"

#include <QWidget>

#include <functional>
#include <string>

class QLabel;
class QLineEdit;
class QHBoxLayout;
class QVBoxLayout;

namespace perchwell {

class SessionsViewModel;
struct SessionCard;

// The Sessions lens: the board of the newest sessions in Active, Idle and Done, with
// their sources, a filter, each session's review policy and the skip-permissions launch.
class SessionsLens : public QWidget {
    Q_OBJECT
public:
    explicit SessionsLens(SessionsViewModel& model, QWidget* parent = nullptr);

    void shown();
    QLineEdit* searchField() const { return search_; }
    // Cards are still being built.
    bool building() const { return builder_.busy(); }

    // Opens the terminal for a card; tests replace it.
    std::function<void(const std::string& cwd)> launch;

private:
    void refill();
    QWidget* card(const SessionCard& session);

    SessionsViewModel& model_;
    QLabel* count_;
    QLabel* loading_;
    QHBoxLayout* chips_;
    QLineEdit* search_;
    QVBoxLayout* columns_[3];
    QLabel* columnTitles_[3];
    ChunkedBuilder builder_;
};

} // namespace perchwell
