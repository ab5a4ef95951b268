#include "views/settings/settings_controls.h"

#include "views/settings/settings_icons.h"

#include <QFrame>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPalette>
#include <QPushButton>
#include <QScrollArea>

namespace perchwell {

SettingsPage makeSettingsPage(QWidget* owner) {
    auto* outer = new QVBoxLayout(owner);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(owner);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    auto* body = new QWidget(scroll);
    auto* layout = new QVBoxLayout(body);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(12);
    scroll->setWidget(body);
    outer->addWidget(scroll);
    return {scroll, layout};
}

QVBoxLayout* addSection(QVBoxLayout* page, const QString& title) {
    auto* group = new QGroupBox(title);
    auto* layout = new QVBoxLayout(group);
    layout->setSpacing(6);
    page->addWidget(group);
    return layout;
}

QLabel* addCaption(QVBoxLayout* layout, const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, palette.color(QPalette::PlaceholderText));
    label->setPalette(palette);
    QFont font = label->font();
    font.setPointSizeF(font.pointSizeF() * 0.9);
    label->setFont(font);
    layout->addWidget(label);
    return label;
}

QPushButton* makeButton(const QString& text, const QString& symbol, QWidget* parent) {
    auto* button = new QPushButton(settingsIcon(symbol), text, parent);
    button->setSizePolicy(QSizePolicy::Maximum, QSizePolicy::Fixed);
    return button;
}

StatusRow::StatusRow(QWidget* parent) : QWidget(parent), icon_(new QLabel(this)), text_(new QLabel(this)) {
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    icon_->setFixedSize(18, 18);
    text_->setWordWrap(true);
    text_->setTextFormat(Qt::PlainText);
    text_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    layout->addWidget(icon_, 0, Qt::AlignTop);
    layout->addWidget(text_, 1);
}

void StatusRow::set(const QString& symbol, const QString& text) {
    symbol_ = symbol;
    icon_->setVisible(!symbol.isEmpty());
    if (!symbol.isEmpty()) {
        icon_->setPixmap(settingsIcon(symbol).pixmap(16, 16));
    }
    text_->setText(text);
}

QString StatusRow::text() const {
    return text_->text();
}

} // namespace perchwell
