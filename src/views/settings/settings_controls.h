#pragma once

#include "state/settings_store.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QString>
#include <QVBoxLayout>
#include <QWidget>
#include <cmath>

class QGroupBox;
class QPushButton;
class QScrollArea;

namespace perchwell {

// The scrollable body of one tab; sections and rows are added to `layout`.
struct SettingsPage {
    QScrollArea* scroll;
    QVBoxLayout* layout;
};
SettingsPage makeSettingsPage(QWidget* owner);

// A titled group; returns the layout its rows go into.
QVBoxLayout* addSection(QVBoxLayout* page, const QString& title);
// A wrapped explanatory line in the secondary text colour.
QLabel* addCaption(QVBoxLayout* layout, const QString& text);
// A push button with one of the window's symbols.
QPushButton* makeButton(const QString& text, const QString& symbol, QWidget* parent = nullptr);

// An icon beside a wrapped text: states such as "Granted" or "Listening on port 7392".
class StatusRow : public QWidget {
    Q_OBJECT
public:
    explicit StatusRow(QWidget* parent = nullptr);
    void set(const QString& symbol, const QString& text);
    QString text() const;
    QString symbol() const { return symbol_; }

private:
    QLabel* icon_;
    QLabel* text_;
    QString symbol_;
};

// Controls bound both ways to one store property: they show its value, follow every
// change made elsewhere, and assign it when the user changes them. Updates coming from
// the store never echo back into it.
template <typename Changed>
QCheckBox* boundToggle(SettingsStore& store, const QString& text, bool (SettingsStore::*get)() const,
                       void (SettingsStore::*set)(bool), Changed changed, QWidget* parent) {
    auto* box = new QCheckBox(text, parent);
    box->setChecked((store.*get)());
    QObject::connect(&store, changed, box, [box](bool value) {
        const QSignalBlocker quiet(box);
        box->setChecked(value);
    });
    QObject::connect(box, &QCheckBox::toggled, &store, [&store, set](bool value) { (store.*set)(value); });
    return box;
}

// A stepper over a property held in seconds, shown in whole `unitSeconds`.
template <typename Changed>
QSpinBox* boundSecondsStepper(SettingsStore& store, double (SettingsStore::*get)() const,
                              void (SettingsStore::*set)(double), Changed changed, int minimumSeconds,
                              int maximumSeconds, int stepSeconds, int unitSeconds, const QString& suffix,
                              QWidget* parent) {
    auto* box = new QSpinBox(parent);
    box->setRange(minimumSeconds / unitSeconds, maximumSeconds / unitSeconds);
    box->setSingleStep(stepSeconds / unitSeconds);
    box->setSuffix(suffix);
    box->setKeyboardTracking(false);
    box->setMinimumWidth(110);
    box->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    const auto show = [box, unitSeconds](double seconds) {
        const QSignalBlocker quiet(box);
        box->setValue(static_cast<int>(std::lround(seconds / unitSeconds)));
    };
    show((store.*get)());
    QObject::connect(&store, changed, box, show);
    QObject::connect(box, &QSpinBox::valueChanged, &store,
                     [&store, set, unitSeconds](int units) { (store.*set)(double(units) * unitSeconds); });
    return box;
}

// A text field; the store follows each edit, and the field follows the store without
// moving the cursor when it already shows the value.
template <typename Changed>
QLineEdit* boundTextField(SettingsStore& store, QString (SettingsStore::*get)() const,
                          void (SettingsStore::*set)(const QString&), Changed changed,
                          const QString& placeholder, QWidget* parent) {
    auto* field = new QLineEdit(parent);
    field->setPlaceholderText(placeholder);
    field->setText((store.*get)());
    QObject::connect(&store, changed, field, [field](const QString& value) {
        if (field->text() != value) {
            field->setText(value);
        }
    });
    QObject::connect(field, &QLineEdit::textEdited, &store,
                     [&store, set](const QString& value) { (store.*set)(value); });
    return field;
}

} // namespace perchwell
