#pragma once

#include "analytics/trace_search.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace perchwell::DashboardFormat {

inline QString text(const std::string& s) {
    return QString::fromStdString(s);
}

// 999, 1.5k, 2.0M.
QString tokens(int64_t count);
// 59s, 12m, 1h, 1h5m.
QString duration(double seconds);
// 12,345: counts that are read, not compared at a glance.
QString grouped(int64_t count);
// "USER", "ASSISTANT", "TOOL", "TOOL ARGS", "MODEL".
QString fieldLabel(TraceSearch::Hit::HitField field);
// The model name without its "claude-" prefix.
QString shortModel(const std::string& model);
// Local time of an instant: "14:05" today, otherwise "Mon 14:05".
QString clockTime(double instant, double now);
// A relative age: "just now", "4m ago", "2h ago", "3d ago".
QString age(double instant, double now);

} // namespace perchwell::DashboardFormat
