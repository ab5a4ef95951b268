#pragma once

#include <QPoint>
#include <QRect>
#include <optional>

namespace perchwell {

// Where the mascot panel goes, for the eye break. The window controller implements it;
// tests record the moves.
class MascotPlacing {
public:
    virtual ~MascotPlacing() = default;
    // The main screen's visible frame (top-left based); nothing without a screen.
    virtual std::optional<QRect> mainScreenFrame() const = 0;
    // Puts the panel's centre at `centre` at once, without a glide.
    virtual void placePanelCentre(QPoint centre) = 0;
    // Glides the panel back to the home corner of the main screen.
    virtual void returnToHomeCorner() = 0;
};

} // namespace perchwell
