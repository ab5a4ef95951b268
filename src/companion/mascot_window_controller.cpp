#include "companion/mascot_window_controller.h"

#include "companion/mascot_panel.h"
#include "companion/mascot_view.h"
#include "companion/mascot_view_model.h"
#include "state/settings_store.h"

#include <QEasingCurve>
#include <QGuiApplication>
#include <QPropertyAnimation>
#include <QScreen>
#include <QSystemTrayIcon>

namespace perchwell {

namespace {

std::vector<MascotWindowController::ScreenArea> systemScreens() {
    std::vector<MascotWindowController::ScreenArea> areas;
    QList<QScreen*> screens = QGuiApplication::screens();
    QScreen* primary = QGuiApplication::primaryScreen();
    if (primary) {
        screens.removeAll(primary);
        screens.prepend(primary);
    }
    for (QScreen* screen : screens) {
        areas.push_back({std::to_string(reinterpret_cast<quintptr>(screen)), screen->availableGeometry()});
    }
    return areas;
}

bool isLeft(HomeCorner corner) {
    return corner == HomeCorner::topLeft || corner == HomeCorner::bottomLeft;
}

// A quick start that settles gently: cubic curve through (0.16, 1) and (0.3, 1).
QEasingCurve glideCurve() {
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.16, 1.0), QPointF(0.3, 1.0), QPointF(1.0, 1.0));
    return curve;
}

} // namespace

MascotWindowController::MascotWindowController(SettingsStore& store, QObject* parent)
    : QObject(parent), store_(store), viewModel_(new MascotViewModel(&store, this)), screens_(systemScreens),
      trayAvailable_(&QSystemTrayIcon::isSystemTrayAvailable) {
    panel_ = new MascotPanel(viewModel_);
    patrolTimer_.setInterval(timings_.patrolIntervalMs);
    firstMoveTimer_.setSingleShot(true);
    firstMoveTimer_.setInterval(timings_.firstMoveMs);
    idleAutoHideTimer_.setSingleShot(true);
    connect(&patrolTimer_, &QTimer::timeout, this, &MascotWindowController::patrolTick);
    connect(&firstMoveTimer_, &QTimer::timeout, this, [this] {
        if (isPatrolState()) {
            patrolTick();
        }
    });
    connect(&idleAutoHideTimer_, &QTimer::timeout, this, &MascotWindowController::autoHideFired);
    connect(panel_->view(), &MascotView::clicked, this, &MascotWindowController::handleClick);
    moveToHomeCorner(store_.mascotHomeCorner(), false);
    observeSettings();
}

MascotWindowController::~MascotWindowController() {
    // The glide must not outlive the panel it moves.
    delete animation_;
    delete panel_;
}

void MascotWindowController::setTimings(Timings timings) {
    timings_ = timings;
    patrolTimer_.setInterval(timings_.patrolIntervalMs);
    firstMoveTimer_.setInterval(timings_.firstMoveMs);
}

MascotState MascotWindowController::state() const {
    return viewModel_->state();
}

bool MascotWindowController::isPatrolState() const {
    const auto kind = viewModel_->state().kind;
    return kind == MascotState::Kind::needsPermission || kind == MascotState::Kind::pacing;
}

void MascotWindowController::show() {
    explainMissingTrayOnce();
    if (!store_.mascotEnabled()) {
        return;
    }
    autoHidden_ = false;
    panel_->orderFront();
    if (isPatrolState()) {
        startPatrol();
    }
    scheduleAutoHideIfEligible();
}

void MascotWindowController::hide() {
    stopPatrol();
    idleAutoHideTimer_.stop();
    autoHidden_ = false;
    panel_->hide();
}

void MascotWindowController::beginExercise() {
    stopPatrol();
    idleAutoHideTimer_.stop();
    autoHidden_ = false;
    panel_->orderFront();
}

std::optional<QRect> MascotWindowController::mainScreenFrame() const {
    const std::vector<ScreenArea> screens = screens_();
    if (screens.empty()) {
        return std::nullopt;
    }
    return screens.front().visibleFrame;
}

void MascotWindowController::placePanelCentre(QPoint centre) {
    if (animation_) {
        animation_->stop();
        delete animation_;
    }
    panelTarget_ = centre - QPoint(panel_->width() / 2, panel_->height() / 2);
    panel_->move(panelTarget_);
}

void MascotWindowController::returnToHomeCorner() {
    moveToHomeCorner(store_.mascotHomeCorner(), true);
}

void MascotWindowController::set(const MascotState& state) {
    viewModel_->setState(state);
    if (isPatrolState()) {
        startPatrol();
    } else {
        if (autoHidden_ && store_.mascotEnabled()) {
            autoHidden_ = false;
            panel_->orderFront();
        }
        stopPatrol();
    }
    scheduleAutoHideIfEligible();
}

void MascotWindowController::startPatrol() {
    // Restarting drops a first move still pending, so a repeated state moves once.
    firstMoveTimer_.start();
    patrolTimer_.start();
}

void MascotWindowController::stopPatrol() {
    firstMoveTimer_.stop();
    patrolTimer_.stop();
}

void MascotWindowController::patrolTick() {
    const std::vector<ScreenArea> screens = screens_();
    if (screens.empty()) {
        return;
    }
    std::vector<std::string> keys;
    keys.reserve(screens.size());
    for (const ScreenArea& screen : screens) {
        keys.push_back(screen.key);
    }
    const auto pick = planner_.pick(keys, lastPatrolKey_);
    if (!pick) {
        return;
    }
    lastPatrolKey_ = pick->key;
    animatePanel(cornerRect(screens[pick->screen].visibleFrame, panel_->size(), pick->corner), pick->corner);
}

void MascotWindowController::explainMissingTrayOnce() {
    if (trayExplained_ || trayAvailable_()) {
        return;
    }
    trayExplained_ = true;
    if (store_.mascotEnabled()) {
        log_.info("no system tray on this desktop: the mascot stays on screen while waiting instead of "
                  "hiding after " +
                  std::to_string(static_cast<int>(idleAutoHideSeconds_)) + " s; click it for the menu");
    } else {
        log_.warning("no system tray on this desktop and the mascot is turned off (pv.mascotEnabled): "
                     "nothing on screen opens the menu");
    }
}

void MascotWindowController::scheduleAutoHideIfEligible() {
    idleAutoHideTimer_.stop();
    // Hiding is only for a desktop that keeps the tray icon to click instead.
    if (store_.mascotEnabled() && !autoHidden_ && viewModel_->state().kind == MascotState::Kind::pacing &&
        trayAvailable_()) {
        idleAutoHideTimer_.start(static_cast<int>(idleAutoHideSeconds_ * 1000));
    }
}

void MascotWindowController::autoHideFired() {
    // The tray may have gone meanwhile (its host quit, an extension turned off).
    if (store_.mascotEnabled() && viewModel_->state().kind == MascotState::Kind::pacing && trayAvailable_()) {
        stopPatrol();
        panel_->hide();
        autoHidden_ = true;
    }
}

QRect MascotWindowController::cornerRect(const QRect& frame, const QSize& size, HomeCorner corner) {
    const int x = isLeft(corner) ? frame.left() + cornerInset
                                 : frame.left() + frame.width() - size.width() - cornerInset;
    const bool top = corner == HomeCorner::topLeft || corner == HomeCorner::topRight;
    const int y =
        top ? frame.top() + cornerInset : frame.top() + frame.height() - size.height() - cornerInset;
    return QRect(QPoint(x, y), size);
}

void MascotWindowController::animatePanel(const QRect& rect, HomeCorner corner) {
    // The content hugs the screen edge the panel sits against.
    panel_->view()->setTrailing(!isLeft(corner));
    panelTarget_ = rect.topLeft();
    if (animation_) {
        animation_->stop();
        delete animation_;
    }
    if (timings_.animationMs <= 0 || !panel_->isVisible()) {
        panel_->move(rect.topLeft());
        return;
    }
    animation_ = new QPropertyAnimation(panel_, "pos", this);
    animation_->setDuration(timings_.animationMs);
    animation_->setEasingCurve(glideCurve());
    animation_->setEndValue(rect.topLeft());
    animation_->start(QAbstractAnimation::DeleteWhenStopped);
}

void MascotWindowController::moveToHomeCorner(HomeCorner corner, bool animated) {
    const std::vector<ScreenArea> screens = screens_();
    if (screens.empty()) {
        return;
    }
    const QRect rect = cornerRect(screens.front().visibleFrame, panel_->size(), corner);
    if (animated) {
        animatePanel(rect, corner);
    } else {
        panel_->view()->setTrailing(!isLeft(corner));
        panelTarget_ = rect.topLeft();
        panel_->move(rect.topLeft());
    }
}

void MascotWindowController::observeSettings() {
    // The store publishes every assignment; only real changes count here.
    lastMascotEnabled_ = store_.mascotEnabled();
    connect(&store_, &SettingsStore::mascotEnabledChanged, this, [this](bool enabled) {
        if (enabled == lastMascotEnabled_) {
            return;
        }
        lastMascotEnabled_ = enabled;
        enabled ? show() : hide();
    });
    lastHomeCorner_ = store_.mascotHomeCorner();
    connect(&store_, &SettingsStore::mascotHomeCornerChanged, this, [this](HomeCorner corner) {
        if (corner == lastHomeCorner_) {
            return;
        }
        lastHomeCorner_ = corner;
        moveToHomeCorner(corner, true);
    });
}

void MascotWindowController::handleClick() {
    if (viewModel_->state().kind == MascotState::Kind::exercising) {
        if (onExerciseHit) {
            onExerciseHit();
        }
    } else if (onClick) {
        onClick();
    }
}

} // namespace perchwell
