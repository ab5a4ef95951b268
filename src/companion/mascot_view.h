#pragma once

#include "companion/pet_character.h"

#include <QElapsedTimer>
#include <QPainterPath>
#include <QRegion>
#include <QTimer>
#include <QWidget>

namespace perchwell {

class MascotViewModel;

// The panel's content: the animated owl beside a tinted pill with the state's title
// and detail. Only the owl's square is repainted on animation frames, and the frame
// timer runs only while the view is visible.
class MascotView : public QWidget {
    Q_OBJECT
public:
    static constexpr int panelWidth = 280;
    static constexpr int panelHeight = 64;
    static constexpr int framesPerSecond = 20;

    explicit MascotView(MascotViewModel* model, QWidget* parent = nullptr);

    // Left home corners align the content to the leading edge, right ones to the
    // trailing edge; the eye break centres it.
    void setTrailing(bool trailing);
    bool isTrailing() const { return trailing_; }
    Qt::Alignment contentAlignment() const;

    QRect owlRect() const;
    QRect pillRect() const;

    // Without a compositor nothing shows through a translucent window: the owl and the
    // pill then sit on one opaque capsule and the window is cut to its shape.
    void setOpaqueBackdrop(bool opaque);
    bool hasOpaqueBackdrop() const { return opaqueBackdrop_; }
    QRegion backdropRegion() const;

    PetCharacter& pet() { return pet_; }
    // Freezes the animation clock at `seconds` (screenshots, tests).
    void setAnimationTime(double seconds);
    bool isAnimating() const { return frameTimer_.isActive(); }

signals:
    void clicked();
    // The owl or the pill moved or changed size.
    void layoutChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void onFrame();
    void onStateChanged();
    int pillWidth() const;

    MascotViewModel* model_;
    PetCharacter pet_;
    QTimer frameTimer_;
    QElapsedTimer clock_;
    QPainterPath backdropPath() const;

    bool trailing_ = true;
    bool opaqueBackdrop_ = false;
};

} // namespace perchwell
