#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <vector>

namespace perchwell {

// Bars of stacked values, painted directly: columns (days) or rows (projects), each
// with its label and its figure as text, so nothing has to be read off an axis.
class BarChart : public QWidget {
    Q_OBJECT
public:
    enum class Orientation { columns, rows };
    struct Series {
        QString name;
        QColor color;
    };
    struct Bar {
        QString label;
        std::vector<double> values; // one per series
        QString valueText;
    };

    explicit BarChart(Orientation orientation, QWidget* parent = nullptr);

    void setSeries(std::vector<Series> series);
    void setBars(std::vector<Bar> bars);
    void setLegendShown(bool shown);
    const std::vector<Bar>& bars() const { return bars_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void paintColumns(QPainter& painter, QRect area, double top);
    void paintRows(QPainter& painter, QRect area, double top);
    int legendHeight() const;

    Orientation orientation_;
    std::vector<Series> series_;
    std::vector<Bar> bars_;
    bool legendShown_ = true;
};

} // namespace perchwell
