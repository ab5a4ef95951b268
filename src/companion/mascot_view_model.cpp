#include "companion/mascot_view_model.h"

namespace perchwell {

MascotViewModel::MascotViewModel(SettingsStore* store, QObject* parent) : QObject(parent), store_(store) {}

void MascotViewModel::setState(const MascotState& state) {
    state_ = state;
    appearance_ = MascotAppearance::of(state);
    emit stateChanged(state_);
}

QString MascotViewModel::title() const {
    return QString::fromStdString(appearance_.title);
}

QString MascotViewModel::detail() const {
    return QString::fromStdString(appearance_.detail);
}

QColor MascotViewModel::tint() const {
    QColor colour(QRgb(appearance_.tint.rgb()));
    colour.setAlphaF(static_cast<float>(appearance_.tint.opacity));
    return colour;
}

} // namespace perchwell
