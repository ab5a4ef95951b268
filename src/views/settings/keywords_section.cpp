#include "views/settings/keywords_section.h"

#include "state/settings_store.h"
#include "views/settings/settings_controls.h"
#include "views/settings/settings_icons.h"

#include <QHBoxLayout>

namespace perchwell {

KeywordsSection::KeywordsSection(SettingsStore& store, QWidget* parent)
    : QWidget(parent), store_(store), rowsLayout_(new QVBoxLayout),
      add_(makeButton(QStringLiteral("Add keyword"), QStringLiteral("plus.circle"))),
      reset_(makeButton(QStringLiteral("Reset"), QStringLiteral("arrow.clockwise"))), message_(new QLabel) {
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);
    rowsLayout_->setSpacing(4);
    layout->addLayout(rowsLayout_);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add_);
    buttons->addWidget(reset_);
    buttons->addStretch(1);
    layout->addLayout(buttons);

    message_->setWordWrap(true);
    message_->setStyleSheet(QStringLiteral("color: #b45309;"));
    message_->hide();
    layout->addWidget(message_);
    addCaption(layout,
               QStringLiteral("When a prompt or option contains one of these keywords, Perchwell asks "
                              "you to handle it manually. Empty rows are ignored."));

    connect(add_, &QPushButton::clicked, this, &KeywordsSection::addKeyword);
    connect(reset_, &QPushButton::clicked, this, &KeywordsSection::resetKeywords);
    connect(&store_, &SettingsStore::dangerousKeywordsChanged, this, &KeywordsSection::show);
    rebuild(store_.dangerousKeywords());
}

void KeywordsSection::addKeyword() {
    QStringList keywords = store_.dangerousKeywords();
    for (const QString& keyword : keywords) {
        if (keyword.trimmed().isEmpty()) {
            message_->setText(fillEmptyRowMessage);
            message_->show();
            return;
        }
    }
    message_->hide();
    keywords.append(QString());
    store_.setDangerousKeywords(keywords);
    if (!rows_.empty()) {
        rows_.back().field->setFocus();
    }
}

void KeywordsSection::removeKeyword(int row) {
    QStringList keywords = store_.dangerousKeywords();
    if (row < 0 || row >= keywords.size()) {
        return;
    }
    keywords.removeAt(row);
    message_->hide();
    store_.setDangerousKeywords(keywords);
}

void KeywordsSection::resetKeywords() {
    message_->hide();
    store_.setDangerousKeywords(SettingsStore::defaultDangerousKeywords());
}

void KeywordsSection::edit(int row, const QString& text) {
    QStringList keywords = store_.dangerousKeywords();
    if (row >= keywords.size()) {
        return;
    }
    keywords[row] = text;
    if (!text.trimmed().isEmpty()) {
        message_->hide();
    }
    store_.setDangerousKeywords(keywords);
}

void KeywordsSection::show(const QStringList& keywords) {
    if (keywords.size() != rowCount()) {
        rebuild(keywords);
        return;
    }
    // Same rows: only fix the texts that differ, so the field being typed in keeps its
    // cursor and focus.
    for (int i = 0; i < rowCount(); ++i) {
        if (rows_[i].field->text() != keywords[i]) {
            rows_[i].field->setText(keywords[i]);
        }
    }
}

void KeywordsSection::rebuild(const QStringList& keywords) {
    for (Row& row : rows_) {
        // Later: the click that removes a row runs inside its own button.
        rowsLayout_->removeWidget(row.widget);
        row.widget->hide();
        row.widget->deleteLater();
    }
    rows_.clear();
    for (int i = 0; i < keywords.size(); ++i) {
        auto* widget = new QWidget(this);
        auto* line = new QHBoxLayout(widget);
        line->setContentsMargins(0, 0, 0, 0);
        auto* field = new QLineEdit(keywords[i], widget);
        field->setPlaceholderText(QStringLiteral("Keyword"));
        auto* remove = new QPushButton(settingsIcon(QStringLiteral("minus.circle.fill")), QString(), widget);
        remove->setFlat(true);
        remove->setToolTip(QStringLiteral("Remove"));
        remove->setFixedSize(26, 26);
        line->addWidget(field, 1);
        line->addWidget(remove);
        connect(field, &QLineEdit::textEdited, this, [this, i](const QString& text) { edit(i, text); });
        connect(remove, &QPushButton::clicked, this, [this, i] { removeKeyword(i); });
        rowsLayout_->addWidget(widget);
        rows_.push_back({widget, field, remove});
    }
}

} // namespace perchwell
