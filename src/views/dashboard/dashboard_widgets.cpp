#include "views/dashboard/dashboard_widgets.h"

#include <QApplication>
#include <QBoxLayout>
#include <QPainter>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>

namespace perchwell::DashboardWidgets {

QLabel* label(const QString& text, const char* role) {
    auto* l = new QLabel(text);
    if (role) {
        l->setProperty("role", role);
    }
    l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    return l;
}

QFrame* section(const QString& title, QVBoxLayout** body, const QString& caption) {
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("card"));
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(6);
    layout->addWidget(label(title, "section"));
    if (!caption.isEmpty()) {
        layout->addWidget(label(caption, "muted"));
    }
    auto* inner = new QVBoxLayout;
    inner->setSpacing(6);
    layout->addLayout(inner);
    *body = inner;
    return frame;
}

QLabel* emptyState(const QString& text) {
    auto* l = label(text, "muted");
    l->setObjectName(QStringLiteral("emptyState"));
    return l;
}

QFrame* metric(const QString& caption, const QString& value, const QColor& accent) {
    auto* frame = new QFrame;
    frame->setObjectName(QStringLiteral("card"));
    frame->setStyleSheet(QStringLiteral("#card { border-top: 3px solid %1; }").arg(accent.name()));
    auto* layout = new QVBoxLayout(frame);
    layout->setContentsMargins(12, 10, 12, 10);
    layout->addWidget(label(value, "figure"));
    layout->addWidget(label(caption, "muted"));
    return frame;
}

QPushButton* refreshButton() {
    auto* button = new QPushButton(QApplication::style()->standardIcon(QStyle::SP_BrowserReload),
                                   QStringLiteral("Refresh"));
    button->setCursor(Qt::PointingHandCursor);
    return button;
}

void clear(QLayout* layout) {
    while (QLayoutItem* item = layout->takeAt(0)) {
        if (QWidget* w = item->widget()) {
            delete w;
        } else if (QLayout* child = item->layout()) {
            clear(child);
        }
        delete item;
    }
}

QBoxLayout* header(const QString& title, QPushButton* refresh, QVBoxLayout** titles) {
    auto* row = new QHBoxLayout;
    *titles = new QVBoxLayout;
    (*titles)->setSpacing(2);
    (*titles)->addWidget(label(title, "title"));
    row->addLayout(*titles, 1);
    row->addWidget(refresh, 0, Qt::AlignTop);
    return row;
}

QVBoxLayout* scrollPage(QScrollArea* area) {
    area->setWidgetResizable(true);
    area->setFrameShape(QFrame::NoFrame);
    auto* content = new QWidget;
    auto* page = new QVBoxLayout(content);
    page->setContentsMargins(20, 16, 20, 20);
    page->setSpacing(14);
    area->setWidget(content);
    return page;
}

QString styleSheet() {
    return QStringLiteral(R"(
        QWidget#dashboardRoot, QScrollArea, QScrollArea > QWidget > QWidget { background: #f4f4f1; }
        QFrame#card { background: white; border: 1px solid #e2e1dc; border-radius: 10px; }
        QFrame#card QLabel { background: transparent; border: none; }
        QFrame#row { background: #fafaf8; border: 1px solid #ecebe6; border-radius: 7px; }
        QFrame#row QLabel { background: transparent; border: none; }
        QLabel[role="title"] { font-size: 20pt; font-weight: 600; color: #1d1d1b; }
        QLabel[role="section"] { font-size: 11pt; font-weight: 600; color: #1d1d1b; }
        QLabel[role="figure"] { font-size: 17pt; font-weight: 600; color: #1d1d1b; }
        QLabel[role="muted"] { color: #77766f; }
        QLabel[role="strong"] { font-weight: 600; color: #1d1d1b; }
        QLabel[role="badge"], QFrame#card QLabel[role="badge"] { background: #eceae3; color: #4a4943; border-radius: 6px; padding: 1px 6px; }
        QLabel[role="field"], QFrame#card QLabel[role="field"] { background: #e4ecfa; color: #27539b; border-radius: 5px; padding: 1px 5px;
                               font-size: 8pt; font-weight: 600; }
        QLabel[role="loading"] { color: #b06d00; }
        QTabBar::tab { min-width: 70px; padding: 6px 16px; border: 1px solid #d9d8d2; background: #ecebe6; color: #3b3a36; }
        QTabBar::tab:first { border-top-left-radius: 8px; border-bottom-left-radius: 8px; }
        QTabBar::tab:last { border-top-right-radius: 8px; border-bottom-right-radius: 8px; }
        QTabBar::tab:selected { background: white; color: #1d1d1b; }
        QLineEdit { background: white; border: 1px solid #d9d8d2; border-radius: 7px; padding: 5px 8px; }
        QPushButton, QToolButton { background: white; border: 1px solid #d2d1cb; border-radius: 6px;
                                   padding: 4px 10px; color: #2b2a27; }
        QPushButton:hover, QToolButton:hover { background: #f0efe9; }
        QPushButton:disabled { color: #aaa9a2; }
        QTreeView { background: white; border: 1px solid #ecebe6; border-radius: 7px; }
        QTreeView::item { padding: 3px 0; }
    )");
}

} // namespace perchwell::DashboardWidgets

namespace perchwell {

ElidedLabel::ElidedLabel(const QString& text, QWidget* parent) : QLabel(text, parent) {
    setToolTip(text);
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

QSize ElidedLabel::minimumSizeHint() const {
    return {40, QLabel::minimumSizeHint().height()};
}

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setPen(palette().color(foregroundRole()));
    const QRect area = contentsRect();
    painter.drawText(area, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(text(), Qt::ElideRight, area.width()));
}

QLabel* DashboardWidgets::elided(const QString& text, const char* role) {
    auto* l = new ElidedLabel(text);
    if (role) {
        l->setProperty("role", role);
    }
    return l;
}

} // namespace perchwell
