#pragma once

#include "companion/mascot_appearance.h"
#include "companion/mascot_state.h"

#include <QColor>
#include <QObject>
#include <QString>

namespace perchwell {

class SettingsStore;

// What the mascot shows: its state and the pill's texts and tint derived from it.
class MascotViewModel : public QObject {
    Q_OBJECT
public:
    explicit MascotViewModel(SettingsStore* store = nullptr, QObject* parent = nullptr);

    const MascotState& state() const { return state_; }
    // Publishes every assignment, like an observable property.
    void setState(const MascotState& state);

    SettingsStore* store() const { return store_; }

    QString title() const;
    QString detail() const;
    // The tint colour with its opacity as alpha.
    QColor tint() const;

signals:
    void stateChanged(const perchwell::MascotState& state);

private:
    SettingsStore* store_;
    MascotState state_ = MascotState::pacing();
    MascotAppearance appearance_ = MascotAppearance::of(state_);
};

} // namespace perchwell
