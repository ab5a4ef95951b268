#pragma once

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <QWidget>
#include <vector>

namespace perchwell {

class SettingsStore;

// The editor of the risk keywords: one field per keyword, each with its remove button.
// Rows may be blank while the user edits; another row is added only once none is.
class KeywordsSection : public QWidget {
    Q_OBJECT
public:
    static inline const QString fillEmptyRowMessage =
        QStringLiteral("Fill the empty row before adding another keyword.");

    explicit KeywordsSection(SettingsStore& store, QWidget* parent = nullptr);

    int rowCount() const { return static_cast<int>(rows_.size()); }
    QLineEdit* field(int row) const { return rows_.at(row).field; }
    QPushButton* removeButton(int row) const { return rows_.at(row).remove; }
    QPushButton* addButton() const { return add_; }
    QPushButton* resetButton() const { return reset_; }
    // The refusal shown after "Add keyword"; empty when there is none.
    QString message() const { return message_->isVisible() ? message_->text() : QString(); }

    void addKeyword();
    void removeKeyword(int row);
    void resetKeywords();

private:
    struct Row {
        QWidget* widget;
        QLineEdit* field;
        QPushButton* remove;
    };
    void show(const QStringList& keywords);
    void rebuild(const QStringList& keywords);
    void edit(int row, const QString& text);

    SettingsStore& store_;
    QVBoxLayout* rowsLayout_;
    std::vector<Row> rows_;
    QPushButton* add_;
    QPushButton* reset_;
    QLabel* message_;
};

} // namespace perchwell
