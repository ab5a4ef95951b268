#include "views/dashboard/bar_chart.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <numeric>

namespace perchwell {
namespace {

constexpr int rowHeight = 26;
constexpr int rowLabelWidth = 170;
constexpr int valueWidth = 64;
constexpr int columnsHeight = 150;

double sum(const std::vector<double>& values) {
    return std::accumulate(values.begin(), values.end(), 0.0);
}

} // namespace

BarChart::BarChart(Orientation orientation, QWidget* parent) : QWidget(parent), orientation_(orientation) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void BarChart::setSeries(std::vector<Series> series) {
    series_ = std::move(series);
    updateGeometry();
    update();
}

void BarChart::setBars(std::vector<Bar> bars) {
    bars_ = std::move(bars);
    updateGeometry();
    update();
}

void BarChart::setLegendShown(bool shown) {
    legendShown_ = shown;
    updateGeometry();
    update();
}

int BarChart::legendHeight() const {
    return legendShown_ && series_.size() > 1 ? 22 : 0;
}

QSize BarChart::sizeHint() const {
    const int body =
        orientation_ == Orientation::columns ? columnsHeight : static_cast<int>(bars_.size()) * rowHeight;
    return {320, legendHeight() + body + 4};
}

void BarChart::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRect all = rect().adjusted(2, 2, -2, -2);
    if (legendHeight() > 0) {
        int x = all.left();
        const QFontMetrics metrics(font());
        for (const auto& s : series_) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(s.color);
            painter.drawRoundedRect(QRectF(x, all.top() + 5, 10, 10), 2, 2);
            painter.setPen(palette().color(QPalette::WindowText));
            painter.drawText(QPoint(x + 15, all.top() + 14), s.name);
            x += 15 + metrics.horizontalAdvance(s.name) + 18;
        }
    }
    double top = 0;
    for (const auto& bar : bars_) {
        top = std::max(top, sum(bar.values));
    }
    const QRect area = all.adjusted(0, legendHeight(), 0, 0);
    if (orientation_ == Orientation::columns) {
        paintColumns(painter, area, top);
    } else {
        paintRows(painter, area, top);
    }
}

void BarChart::paintColumns(QPainter& painter, QRect area, double top) {
    if (bars_.empty()) {
        return;
    }
    const QFontMetrics metrics(font());
    const int labelHeight = metrics.height() + 4;
    const int valueHeight = metrics.height() + 2;
    const QRect plot = area.adjusted(0, valueHeight, 0, -labelHeight);
    const QColor muted = palette().color(QPalette::PlaceholderText);
    painter.setPen(QPen(muted.lighter(150), 1));
    painter.drawLine(plot.bottomLeft(), plot.bottomRight());
    const double slot = static_cast<double>(plot.width()) / static_cast<double>(bars_.size());
    const double width = std::min(56.0, slot * 0.62);
    for (size_t i = 0; i < bars_.size(); ++i) {
        const auto& bar = bars_[i];
        const double cx = plot.left() + slot * (static_cast<double>(i) + 0.5);
        double y = plot.bottom();
        for (size_t s = 0; s < bar.values.size() && s < series_.size(); ++s) {
            const double h = top > 0 ? bar.values[s] / top * plot.height() : 0;
            if (h <= 0) {
                continue;
            }
            painter.setPen(Qt::NoPen);
            painter.setBrush(series_[s].color);
            painter.drawRect(QRectF(cx - width / 2, y - h, width, h));
            y -= h;
        }
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRectF(cx - slot / 2, y - valueHeight, slot, valueHeight), Qt::AlignCenter,
                         bar.valueText);
        painter.setPen(muted);
        painter.drawText(QRectF(cx - slot / 2, plot.bottom() + 2, slot, labelHeight), Qt::AlignCenter,
                         metrics.elidedText(bar.label, Qt::ElideRight, static_cast<int>(slot)));
    }
}

void BarChart::paintRows(QPainter& painter, QRect area, double top) {
    const QFontMetrics metrics(font());
    const int barLeft = area.left() + rowLabelWidth + 8;
    const int barWidth = std::max(10, area.right() - valueWidth - 8 - barLeft);
    for (size_t i = 0; i < bars_.size(); ++i) {
        const auto& bar = bars_[i];
        const int y = area.top() + static_cast<int>(i) * rowHeight;
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRect(area.left(), y, rowLabelWidth, rowHeight), Qt::AlignVCenter | Qt::AlignLeft,
                         metrics.elidedText(bar.label, Qt::ElideMiddle, rowLabelWidth));
        double x = barLeft;
        for (size_t s = 0; s < bar.values.size() && s < series_.size(); ++s) {
            const double w = top > 0 ? bar.values[s] / top * barWidth : 0;
            if (w <= 0) {
                continue;
            }
            painter.setPen(Qt::NoPen);
            painter.setBrush(series_[s].color);
            painter.drawRect(QRectF(x, y + 6, w, rowHeight - 12));
            x += w;
        }
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(QRect(area.right() - valueWidth, y, valueWidth, rowHeight),
                         Qt::AlignVCenter | Qt::AlignRight, bar.valueText);
    }
}

} // namespace perchwell
