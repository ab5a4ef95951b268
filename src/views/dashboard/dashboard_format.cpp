#include "views/dashboard/dashboard_format.h"

#include <QDateTime>
#include <QLocale>

#include <cmath>

namespace perchwell::DashboardFormat {

QString tokens(int64_t count) {
    const double value = static_cast<double>(count);
    if (std::llabs(count) <= 999) {
        return QString::number(count);
    }
    // Below 999,950: anything above would round to "1000.0k", which reads better as "1.0M".
    if (std::llabs(count) < 999'950) {
        return QString::asprintf("%.1fk", value / 1e3);
    }
    return QString::asprintf("%.1fM", value / 1e6);
}

QString duration(double seconds) {
    if (seconds < 60) {
        return QString::asprintf("%.0fs", std::max(0.0, std::floor(seconds)));
    }
    const auto whole = static_cast<int64_t>(seconds);
    if (seconds < 3600) {
        return QString::number(whole / 60) + QLatin1Char('m');
    }
    const int64_t minutes = (whole % 3600) / 60;
    QString text = QString::number(whole / 3600) + QLatin1Char('h');
    if (minutes != 0) {
        text += QString::number(minutes) + QLatin1Char('m');
    }
    return text;
}

QString grouped(int64_t count) {
    static const QLocale english(QLocale::English);
    return english.toString(static_cast<qlonglong>(count));
}

QString fieldLabel(TraceSearch::Hit::HitField field) {
    using F = TraceSearch::Hit::HitField;
    switch (field) {
    case F::userText:
        return QStringLiteral("USER");
    case F::assistantText:
        return QStringLiteral("ASSISTANT");
    case F::toolName:
        return QStringLiteral("TOOL");
    case F::toolInput:
        return QStringLiteral("TOOL ARGS");
    case F::model:
        return QStringLiteral("MODEL");
    }
    return {};
}

QString shortModel(const std::string& model) {
    QString name = QString::fromStdString(model);
    if (name.startsWith(QLatin1String("claude-"))) {
        name.remove(0, 7);
    }
    return name;
}

QString clockTime(double instant, double now) {
    const auto at = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(instant * 1000));
    const auto today = QDateTime::fromMSecsSinceEpoch(static_cast<qint64>(now * 1000)).date();
    return at.date() == today ? at.toString(QStringLiteral("HH:mm"))
                              : at.toString(QStringLiteral("ddd HH:mm"));
}

QString age(double instant, double now) {
    const double seconds = now - instant;
    if (seconds < 60) {
        return QStringLiteral("just now");
    }
    if (seconds < 3600) {
        return QString::number(static_cast<int64_t>(seconds / 60)) + QStringLiteral("m ago");
    }
    if (seconds < 86400) {
        return QString::number(static_cast<int64_t>(seconds / 3600)) + QStringLiteral("h ago");
    }
    return QString::number(static_cast<int64_t>(seconds / 86400)) + QStringLiteral("d ago");
}

} // namespace perchwell::DashboardFormat
