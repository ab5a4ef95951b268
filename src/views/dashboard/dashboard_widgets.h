#pragma once

#include <QFrame>
#include <QLabel>
#include <QString>

class QBoxLayout;
class QLayout;
class QPushButton;
class QScrollArea;
class QVBoxLayout;

namespace perchwell::DashboardWidgets {

// A white rounded card with a title (and an optional caption); its body layout is
// returned through `body`.
QFrame* section(const QString& title, QVBoxLayout** body, const QString& caption = {});
// A muted line saying that a list is empty.
QLabel* emptyState(const QString& text);
QLabel* label(const QString& text, const char* role = nullptr);
// A figure with its caption below, in a card of its own.
QFrame* metric(const QString& caption, const QString& value, const QColor& accent);
QPushButton* refreshButton();
// Deletes every item and widget of a layout (nested layouts included).
void clear(QLayout* layout);
// The lens header: big title, then a row of subtitle labels, and the refresh button on the right.
QBoxLayout* header(const QString& title, QPushButton* refresh, QVBoxLayout** titles);
// Makes `area` a vertically scrolling page and returns the page's layout.
QVBoxLayout* scrollPage(QScrollArea* area);
// The window's colours and card shapes.
QString styleSheet();

} // namespace perchwell::DashboardWidgets

namespace perchwell {

// One line that elides itself to whatever width the layout gives it; the full text is its tool tip.
class ElidedLabel : public QLabel {
public:
    explicit ElidedLabel(const QString& text, QWidget* parent = nullptr);
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

} // namespace perchwell

namespace perchwell::DashboardWidgets {
QLabel* elided(const QString& text, const char* role = nullptr);
} // namespace perchwell::DashboardWidgets
