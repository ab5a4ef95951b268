#pragma once

#include "companion/mascot_state.h"

#include <QImage>
#include <QPointF>
#include <QRectF>
#include <array>
#include <functional>

class QPainter;

namespace perchwell {

// One floating "Z" of the sleeping owl: it rises, grows and fades over its life.
struct ZParticle {
    double phaseOffset = 0; // 0..1, staggers the letters
    double drift = 0;       // sideways wander in owl units
};

// The letters above a sleeping owl, drawn in a loop of `period` seconds.
struct SleepZzz {
    static constexpr double period = 2.7;
    std::array<ZParticle, 3> particles{{{0.0, 3.0}, {0.34, -2.0}, {0.67, 4.0}}};
};

// The owl: drawn from simple shapes and animated continuously. Time moves only through
// advance(), so the drawing is deterministic for a given clock and random source.
class PetCharacter {
public:
    // Uniform in [0, 1).
    using Random = std::function<double()>;
    explicit PetCharacter(Random random = {});

    void setMood(MascotState::Kind kind);
    MascotState::Kind mood() const { return mood_; }

    // Moves the animation to `now` (seconds on a monotonic clock).
    void advance(double now);

    // Draws the owl to fill `box` (a square works best).
    void paint(QPainter& painter, const QRectF& box) const;

    bool isBlinking() const;
    bool isYawning() const;
    // Paused and not yawning: eyes closed and the Z letters rise.
    bool isSleeping() const;

private:
    double eyeOpenness() const;
    double yawnAmount() const;
    QPointF pupilOffset() const;
    // The tufts, head and face change with no mood: drawn once per pixel size and
    // reused, so an animation frame only draws the eyes, brows and beak afresh.
    const QImage& body(int pixels) const;
    void paintTufts(QPainter& painter) const;
    void paintHead(QPainter& painter) const;
    void paintEyes(QPainter& painter) const;
    void paintBrows(QPainter& painter) const;
    void paintBeak(QPainter& painter) const;
    void paintSnoreBubble(QPainter& painter) const;
    void paintZzz(QPainter& painter) const;

    Random random_;
    MascotState::Kind mood_ = MascotState::Kind::pacing;
    double now_ = 0;
    double nextBlinkAt_ = 1.5;
    double blinkStartedAt_ = -10;
    double nextYawnAt_ = 12;
    double yawnStartedAt_ = -100;
    SleepZzz zzz_;
    mutable QImage bodyCache_;
};

} // namespace perchwell
