#include "views/dashboard/session_summary_model.h"

#include "views/dashboard/dashboard_format.h"

#include <QStringList>

#include <filesystem>

namespace perchwell {
namespace F = DashboardFormat;

namespace {

QString projectName(const std::optional<std::string>& cwd) {
    if (!cwd || cwd->empty()) {
        return QStringLiteral("<unknown>");
    }
    const auto name = std::filesystem::path(*cwd).filename().string();
    return QString::fromStdString(name.empty() ? *cwd : name);
}

} // namespace

void SessionSummaryModel::setSummaries(std::vector<TokenAnalytics::SessionSummary> summaries) {
    beginResetModel();
    summaries_ = std::move(summaries);
    endResetModel();
}

int SessionSummaryModel::rowOf(const std::string& sessionId) const {
    for (size_t i = 0; i < summaries_.size(); ++i) {
        if (summaries_[i].sessionId == sessionId) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

int SessionSummaryModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(summaries_.size());
}

int SessionSummaryModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : 4;
}

QVariant SessionSummaryModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const auto& s = summaries_[static_cast<size_t>(index.row())];
    if (role == Qt::TextAlignmentRole) {
        return index.column() >= 2 ? QVariant(Qt::AlignRight | Qt::AlignVCenter) : QVariant();
    }
    if (role == Qt::ToolTipRole) {
        return QString::fromStdString(s.cwd.value_or(s.sessionId));
    }
    if (role != Qt::DisplayRole) {
        return {};
    }
    switch (index.column()) {
    case 0:
        return projectName(s.cwd);
    case 1: {
        QStringList models;
        for (const auto& [name, count] : s.models) {
            models << F::shortModel(name);
        }
        return models.join(QStringLiteral(", "));
    }
    case 2:
        return F::grouped(s.turnCount) + QStringLiteral(" turns");
    default:
        return F::duration(s.lastAt - s.firstAt);
    }
}

QVariant SessionSummaryModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    static const char* titles[] = {"Project", "Models", "Turns", "Duration"};
    return section >= 0 && section < 4 ? QString::fromUtf8(titles[section]) : QVariant();
}

} // namespace perchwell
