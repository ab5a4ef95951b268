#include "companion/pet_character.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <cmath>
#include <random>

namespace perchwell {

namespace {

constexpr double pi = 3.14159265358979323846;
constexpr double blinkDuration = 0.18;
constexpr double yawnDuration = 2.2;

// The owl is designed in a 100 × 100 space; the head's centre and radius.
constexpr QPointF headCentre(50, 56);
constexpr double headRadius = 33;
constexpr QPointF leftEye(38, 52);
constexpr QPointF rightEye(62, 52);
constexpr double eyeRadius = 10.5;

const QColor outline(0x3F, 0x27, 0x16);
const QColor browColour(0x4E, 0x32, 0x1C);

double wave(double t, double period) {
    return std::sin(2 * pi * t / period);
}

// Rises and falls once over progress 0..1.
double pulse(double progress) {
    return progress <= 0 || progress >= 1 ? 0 : std::sin(pi * progress);
}

} // namespace

PetCharacter::PetCharacter(Random random) : random_(std::move(random)) {
    if (!random_) {
        random_ = [engine = std::minstd_rand(std::random_device{}())]() mutable {
            return std::uniform_real_distribution<double>(0, 1)(engine);
        };
    }
}

void PetCharacter::setMood(MascotState::Kind kind) {
    if (kind == mood_) {
        return;
    }
    mood_ = kind;
    // Falling asleep is announced with a yawn soon after.
    if (kind == MascotState::Kind::paused) {
        nextYawnAt_ = now_ + 1.0;
    }
}

void PetCharacter::advance(double now) {
    now_ = now;
    if (now_ >= nextBlinkAt_) {
        blinkStartedAt_ = now_;
        // Now and then a double blink.
        nextBlinkAt_ = now_ + (random_() < 0.2 ? 0.35 : 2.2 + 4.0 * random_());
    }
    if (now_ >= nextYawnAt_) {
        yawnStartedAt_ = now_;
        const bool drowsy = mood_ == MascotState::Kind::paused;
        nextYawnAt_ = now_ + yawnDuration + (drowsy ? 9.0 + 9.0 * random_() : 20.0 + 25.0 * random_());
    }
}

bool PetCharacter::isBlinking() const {
    return now_ - blinkStartedAt_ < blinkDuration;
}

bool PetCharacter::isYawning() const {
    return now_ - yawnStartedAt_ < yawnDuration;
}

bool PetCharacter::isSleeping() const {
    return mood_ == MascotState::Kind::paused && !isYawning();
}

double PetCharacter::eyeOpenness() const {
    double open = 1.0 - pulse((now_ - blinkStartedAt_) / blinkDuration);
    if (isYawning()) {
        open = std::min(open, 1.0 - 0.75 * yawnAmount());
    }
    return open;
}

double PetCharacter::yawnAmount() const {
    const double p = (now_ - yawnStartedAt_) / yawnDuration;
    // Opens quickly, holds, closes slowly.
    return std::min(1.0, 1.6 * pulse(p));
}

QPointF PetCharacter::pupilOffset() const {
    using Kind = MascotState::Kind;
    switch (mood_) {
    case Kind::needsPermission:
        return {3.5 * wave(now_, 2.2), -1.5 + 0.6 * wave(now_, 1.1)};
    case Kind::exercising:
        return {4.0 * wave(now_, 1.8), 2.0 * std::cos(2 * pi * now_ / 1.8)};
    case Kind::suggestion:
        return {3.0 + 0.6 * wave(now_, 2.5), 0.5};
    default:
        return {3.2 * wave(now_, 7.0), 0.8 * wave(now_, 3.5)};
    }
}

void PetCharacter::paint(QPainter& painter, const QRectF& box) const {
    using Kind = MascotState::Kind;
    const bool sleeping = isSleeping();
    const bool happy = mood_ == Kind::happy;

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QTransform device = painter.deviceTransform();
    const int pixels = static_cast<int>(
        std::ceil(std::max(box.width(), box.height()) * std::hypot(device.m11(), device.m12())));
    painter.translate(box.topLeft());
    painter.scale(box.width() / 100.0, box.height() / 100.0);

    // Whole-body motion: bob, sway about the feet and a breathing pulse.
    const double bob = happy ? 2.6 * std::abs(wave(now_, 1.3)) * -1
                             : (sleeping ? 1.2 : 2.0) * wave(now_, sleeping ? 4.2 : 2.6);
    const double sway = (sleeping ? 4.0 : 3.0) * wave(now_, sleeping ? 7.5 : 5.3) + (sleeping ? 5.0 : 0.0);
    const double breathe = (sleeping ? 0.035 : 0.02) * wave(now_, sleeping ? 4.2 : 3.2);

    painter.translate(50, 92);
    painter.rotate(sway);
    painter.scale(1.0 + breathe, 1.0 + 0.6 * breathe);
    painter.translate(-50, -92 + bob);

    painter.drawImage(QRectF(0, 0, 100, 100), body(pixels));
    paintBrows(painter);
    paintEyes(painter);
    paintBeak(painter);
    if (sleeping) {
        paintSnoreBubble(painter);
    }
    painter.restore();

    if (sleeping) {
        painter.save();
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(box.topLeft());
        painter.scale(box.width() / 100.0, box.height() / 100.0);
        paintZzz(painter);
        painter.restore();
    }
}

const QImage& PetCharacter::body(int pixels) const {
    pixels = std::clamp(pixels, 16, 1024);
    if (bodyCache_.width() != pixels) {
        bodyCache_ = QImage(pixels, pixels, QImage::Format_ARGB32_Premultiplied);
        bodyCache_.fill(Qt::transparent);
        QPainter painter(&bodyCache_);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(pixels / 100.0, pixels / 100.0);
        paintTufts(painter);
        paintHead(painter);
    }
    return bodyCache_;
}

void PetCharacter::paintTufts(QPainter& painter) const {
    QLinearGradient gradient(0, 6, 0, 34);
    gradient.setColorAt(0, QColor(0x5C, 0x3B, 0x22));
    gradient.setColorAt(1, QColor(0xA2, 0x72, 0x45));
    painter.setBrush(gradient);
    painter.setPen(QPen(outline, 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    // Feathery tufts leaning outwards, each with a short inner feather.
    const QPointF left[] = {{27, 34}, {14, 9}, {24, 17}, {40, 26}};
    const QPointF right[] = {{73, 34}, {86, 9}, {76, 17}, {60, 26}};
    painter.drawPolygon(left, 4);
    painter.drawPolygon(right, 4);
    painter.setPen(QPen(QColor(0x3F, 0x27, 0x16, 150), 1.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(24, 17), QPointF(30, 28));
    painter.drawLine(QPointF(76, 17), QPointF(70, 28));
}

void PetCharacter::paintHead(QPainter& painter) const {
    // A soft shadow under the head.
    QRadialGradient shadow(headCentre + QPointF(0, 5), headRadius + 6);
    shadow.setColorAt(0.75, QColor(0, 0, 0, 70));
    shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(shadow);
    painter.drawEllipse(headCentre + QPointF(0, 5), headRadius + 6, headRadius + 6);

    QRadialGradient feathers(headCentre + QPointF(-8, -14), headRadius * 1.4);
    feathers.setColorAt(0, QColor(0xC9, 0x98, 0x66));
    feathers.setColorAt(1, QColor(0x86, 0x58, 0x30));
    painter.setBrush(feathers);
    painter.setPen(QPen(outline, 2.0));
    painter.drawEllipse(headCentre, headRadius, headRadius);

    // The pale facial disc around the eyes and a few chest feathers.
    QPainterPath face;
    face.addEllipse(leftEye, 15, 15);
    face.addEllipse(rightEye, 15, 15);
    face.addEllipse(QPointF(50, 63), 16, 11);
    face.setFillRule(Qt::WindingFill);
    QLinearGradient disc(0, 37, 0, 75);
    disc.setColorAt(0, QColor(0xF8, 0xEB, 0xD4));
    disc.setColorAt(1, QColor(0xE8, 0xD0, 0xA8));
    painter.setPen(Qt::NoPen);
    painter.setBrush(disc);
    painter.drawPath(face.simplified());

    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(QColor(0x5E, 0x3D, 0x22, 150), 1.4, Qt::SolidLine, Qt::RoundCap));
    for (const QPointF& p : {QPointF(41, 80), QPointF(50, 83), QPointF(59, 80)}) {
        QPainterPath chevron;
        chevron.moveTo(p + QPointF(-3, -1.5));
        chevron.lineTo(p + QPointF(0, 1.5));
        chevron.lineTo(p + QPointF(3, -1.5));
        painter.drawPath(chevron);
    }
}

void PetCharacter::paintEyes(QPainter& painter) const {
    using Kind = MascotState::Kind;
    const QPen lidPen(outline, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    for (const QPointF& centre : {leftEye, rightEye}) {
        if (mood_ == Kind::happy) {
            // Closed, smiling arcs.
            QPainterPath arc;
            arc.moveTo(centre + QPointF(-7, 2.5));
            arc.quadTo(centre + QPointF(0, -8), centre + QPointF(7, 2.5));
            painter.setPen(QPen(outline, 3.0, Qt::SolidLine, Qt::RoundCap));
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(arc);
            continue;
        }
        const double open = isSleeping() ? 0.0 : eyeOpenness();
        if (open < 0.12) {
            QPainterPath lid;
            lid.moveTo(centre + QPointF(-7, 0));
            lid.quadTo(centre + QPointF(0, 5.5), centre + QPointF(7, 0));
            painter.setPen(lidPen);
            painter.setBrush(Qt::NoBrush);
            painter.drawPath(lid);
            continue;
        }
        painter.save();
        if (open < 0.98) {
            // Half-closed: the lid hides the top and bottom of the eye.
            QPainterPath eye;
            eye.addEllipse(centre, eyeRadius, eyeRadius * open);
            painter.setClipPath(eye, Qt::IntersectClip);
        }
        painter.setPen(Qt::NoPen);
        painter.setBrush(Qt::white);
        painter.drawEllipse(centre, eyeRadius, eyeRadius);
        const QPointF iris = centre + pupilOffset() * 0.55;
        painter.setBrush(QColor(0xF2, 0xA9, 0x1E));
        painter.drawEllipse(iris, 6.8, 6.8);
        painter.setBrush(QColor(0x1E, 0x13, 0x0B));
        painter.drawEllipse(iris, 4.0, 4.0);
        painter.setBrush(Qt::white);
        painter.drawEllipse(iris + QPointF(-1.8, -2.0), 1.5, 1.5);
        painter.restore();
        painter.setPen(QPen(outline, 1.5));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(centre, eyeRadius, eyeRadius * open);
    }
}

void PetCharacter::paintBrows(QPainter& painter) const {
    using Kind = MascotState::Kind;
    // Inner and outer end heights: worried brows rise in the middle, sleepy ones flatten.
    double outer = 38.5, inner = 42;
    if (mood_ == Kind::needsPermission) {
        outer = 42, inner = 36;
    } else if (isSleeping()) {
        outer = 40, inner = 42;
    } else if (mood_ == Kind::happy || mood_ == Kind::suggestion) {
        outer = 35, inner = 40;
    }
    painter.setPen(QPen(browColour, 3.0, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(27, outer), QPointF(46, inner));
    painter.drawLine(QPointF(73, outer), QPointF(54, inner));
}

void PetCharacter::paintBeak(QPainter& painter) const {
    const double yawn = isYawning() ? yawnAmount() : 0.0;
    if (yawn > 0.02) {
        painter.setPen(QPen(outline, 1.2));
        painter.setBrush(QColor(0x5A, 0x1E, 0x1E));
        painter.drawEllipse(QPointF(50, 66 + 2 * yawn), 4.5 * yawn + 1, 6.5 * yawn + 1);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(0xE0, 0x6C, 0x75));
        painter.drawEllipse(QPointF(50, 69 + 4 * yawn), 2.8 * yawn, 2.0 * yawn);
    }
    QLinearGradient gradient(0, 57, 0, 69);
    gradient.setColorAt(0, QColor(0xF8, 0xBE, 0x55));
    gradient.setColorAt(1, QColor(0xD9, 0x82, 0x2B));
    painter.setBrush(gradient);
    painter.setPen(QPen(QColor(0xA6, 0x5E, 0x14), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const double lift = 3.0 * yawn;
    const QPointF beak[] = {{45.5, 57 - lift}, {54.5, 57 - lift}, {50, 68 - lift - 3 * yawn}};
    painter.drawPolygon(beak, 3);
}

void PetCharacter::paintSnoreBubble(QPainter& painter) const {
    const double phase = std::fmod(now_, 3.4) / 3.4;
    const double radius = 1.5 + 5.0 * pulse(phase);
    const QPointF centre(57 + radius * 0.7, 68 + radius * 0.2);
    painter.setPen(QPen(QColor(255, 255, 255, 210), 0.9));
    painter.setBrush(QColor(190, 220, 255, 130));
    painter.drawEllipse(centre, radius, radius);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 255, 255, 200));
    painter.drawEllipse(centre + QPointF(-radius * 0.35, -radius * 0.35), radius * 0.22, radius * 0.22);
}

void PetCharacter::paintZzz(QPainter& painter) const {
    for (const ZParticle& particle : zzz_.particles) {
        const double p = std::fmod(now_ / SleepZzz::period + particle.phaseOffset, 1.0);
        const double size = 7 + 7 * p;
        const double x = 68 + 12 * p + particle.drift * wave(p, 1.0);
        const double y = 34 - 28 * p;
        const double alpha = p < 0.15 ? p / 0.15 : (1 - p) / 0.85;
        QPainterPath z;
        z.moveTo(x, y - size);
        z.lineTo(x + size * 0.8, y - size);
        z.lineTo(x, y);
        z.lineTo(x + size * 0.8, y);
        // A dark rim under a light stroke keeps the letters readable on any wallpaper.
        painter.setBrush(Qt::NoBrush);
        painter.setPen(
            QPen(QColor(30, 30, 60, int(160 * alpha)), 4.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(z);
        painter.setPen(
            QPen(QColor(235, 240, 255, int(255 * alpha)), 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(z);
    }
}

} // namespace perchwell
