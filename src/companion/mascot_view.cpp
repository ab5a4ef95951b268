#include "companion/mascot_view.h"

#include "companion/mascot_view_model.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <algorithm>

namespace perchwell {

namespace {

constexpr int owlSize = 64;
constexpr int gap = 2;
constexpr int pillHeight = 46;
constexpr int pillPadding = 14;

QFont titleFont() {
    QFont font;
    font.setPixelSize(13);
    font.setBold(true);
    return font;
}

QFont detailFont() {
    QFont font;
    font.setPixelSize(11);
    return font;
}

} // namespace

MascotView::MascotView(MascotViewModel* model, QWidget* parent) : QWidget(parent), model_(model) {
    setFixedSize(panelWidth, panelHeight);
    setAttribute(Qt::WA_TranslucentBackground);
    setAttribute(Qt::WA_NoSystemBackground);
    setCursor(Qt::PointingHandCursor);
    frameTimer_.setInterval(1000 / framesPerSecond);
    frameTimer_.setTimerType(Qt::CoarseTimer);
    connect(&frameTimer_, &QTimer::timeout, this, &MascotView::onFrame);
    connect(model_, &MascotViewModel::stateChanged, this, &MascotView::onStateChanged);
    clock_.start();
    onStateChanged();
}

void MascotView::setTrailing(bool trailing) {
    if (trailing != trailing_) {
        trailing_ = trailing;
        update();
        emit layoutChanged();
    }
}

Qt::Alignment MascotView::contentAlignment() const {
    if (model_->state().kind == MascotState::Kind::exercising) {
        return Qt::AlignHCenter;
    }
    return trailing_ ? Qt::AlignRight : Qt::AlignLeft;
}

int MascotView::pillWidth() const {
    const int available = panelWidth - owlSize - gap;
    const int text = std::max(QFontMetrics(titleFont()).horizontalAdvance(model_->title()),
                              QFontMetrics(detailFont()).horizontalAdvance(model_->detail()));
    return std::clamp(text + 2 * pillPadding, 2 * pillHeight, available);
}

QRect MascotView::owlRect() const {
    const int content = owlSize + gap + pillWidth();
    int left = 0;
    const Qt::Alignment alignment = contentAlignment();
    if (alignment & Qt::AlignRight) {
        left = panelWidth - content;
    } else if (alignment & Qt::AlignHCenter) {
        left = (panelWidth - content) / 2;
    }
    return QRect(left, 0, owlSize, owlSize);
}

QRect MascotView::pillRect() const {
    const QRect owl = owlRect();
    return QRect(owl.right() + 1 + gap, (panelHeight - pillHeight) / 2, pillWidth(), pillHeight);
}

void MascotView::setAnimationTime(double seconds) {
    frameTimer_.stop();
    // Step through the frames in between so blinks and yawns happen as they would live.
    for (double t = 0; t < seconds; t += 1.0 / framesPerSecond) {
        pet_.advance(t);
    }
    pet_.advance(seconds);
    update();
}

void MascotView::onFrame() {
    pet_.advance(clock_.elapsed() / 1000.0);
    update(owlRect());
}

void MascotView::onStateChanged() {
    pet_.setMood(model_->state().kind);
    update();
    emit layoutChanged();
}

void MascotView::setOpaqueBackdrop(bool opaque) {
    if (opaque != opaqueBackdrop_) {
        opaqueBackdrop_ = opaque;
        update();
        emit layoutChanged();
    }
}

QPainterPath MascotView::backdropPath() const {
    const QRect area = owlRect().united(pillRect());
    QPainterPath path;
    path.addRoundedRect(QRectF(area), area.height() / 2.0, area.height() / 2.0);
    return path;
}

QRegion MascotView::backdropRegion() const {
    if (!opaqueBackdrop_) {
        return QRegion(rect());
    }
    return QRegion(backdropPath().toFillPolygon().toPolygon());
}

void MascotView::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.fillRect(event->rect(), Qt::transparent);
    painter.setCompositionMode(QPainter::CompositionMode_SourceOver);

    if (opaqueBackdrop_) {
        painter.fillPath(backdropPath(), QColor(24, 24, 30));
    }
    const QRect pill = pillRect();
    if (event->rect().intersects(pill)) {
        QPainterPath capsule;
        capsule.addRoundedRect(QRectF(pill).adjusted(0.5, 0.5, -0.5, -0.5), pillHeight / 2.0,
                               pillHeight / 2.0);
        // A dark glass base keeps the text readable on any wallpaper; the state tints it.
        painter.fillPath(capsule, QColor(24, 24, 30, 215));
        painter.fillPath(capsule, model_->tint());
        painter.setPen(QPen(QColor(255, 255, 255, 40), 1));
        painter.drawPath(capsule);

        const QRect text = pill.adjusted(pillPadding, 6, -pillPadding, -6);
        painter.setFont(titleFont());
        painter.setPen(QColor(255, 255, 255, 240));
        const QFontMetrics titleMetrics(titleFont());
        painter.drawText(text.adjusted(0, 0, 0, -text.height() / 2), Qt::AlignLeft | Qt::AlignBottom,
                         titleMetrics.elidedText(model_->title(), Qt::ElideRight, text.width()));
        painter.setFont(detailFont());
        painter.setPen(QColor(255, 255, 255, 185));
        const QFontMetrics detailMetrics(detailFont());
        painter.drawText(text.adjusted(0, text.height() / 2 + 2, 0, 0), Qt::AlignLeft | Qt::AlignTop,
                         detailMetrics.elidedText(model_->detail(), Qt::ElideRight, text.width()));
    }

    const QRect owl = owlRect();
    if (event->rect().intersects(owl)) {
        painter.setClipRect(owl);
        pet_.paint(painter, QRectF(owl).adjusted(2, 1, -2, -1));
    }
}

void MascotView::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton || event->button() == Qt::RightButton) {
        emit clicked();
        event->accept();
        return;
    }
    QWidget::mousePressEvent(event);
}

void MascotView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    frameTimer_.start();
}

void MascotView::hideEvent(QHideEvent* event) {
    frameTimer_.stop();
    QWidget::hideEvent(event);
}

} // namespace perchwell
