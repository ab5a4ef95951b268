#pragma once

#include "analytics/token_analytics.h"

#include <QAbstractTableModel>

#include <vector>

namespace perchwell {

// The Trace's "By Session" rows: project, models, turns, duration. A table model rather
// than an item per row, so thousands of sessions cost nothing until they are painted.
class SessionSummaryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    void setSummaries(std::vector<TokenAnalytics::SessionSummary> summaries);
    const TokenAnalytics::SessionSummary& summary(int row) const {
        return summaries_[static_cast<size_t>(row)];
    }
    // The row of a session, or -1.
    int rowOf(const std::string& sessionId) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    std::vector<TokenAnalytics::SessionSummary> summaries_;
};

} // namespace perchwell
