#include "companion/eye_exercise_controller.h"

#include "companion/gaze_tracker.h"
#include "companion/mascot_controlling.h"
#include "companion/mascot_placing.h"
#include "state/coordinator.h"
#include "state/settings_store.h"

#include <algorithm>
#include <cmath>

namespace perchwell {

EyeExerciseController::EyeExerciseController(MascotControlling* mascot, MascotPlacing* placing,
                                             Coordinator* coordinator, GazeTracker* gazeTracker,
                                             SettingsStore& store, std::shared_ptr<ExerciseClock> clock,
                                             QObject* parent)
    : QObject(parent), mascot_(mascot), placing_(placing), coordinator_(coordinator),
      gazeTracker_(gazeTracker), store_(store),
      clock_(clock ? std::move(clock) : std::make_shared<SystemExerciseClock>()) {
    if (gazeTracker_) {
        connect(gazeTracker_, &GazeTracker::gazeDirectionChanged, this,
                [this](std::optional<GazePoint> direction) {
                    if (direction) {
                        processGaze(*direction);
                    }
                });
    }
}

EyeExerciseController::~EyeExerciseController() {
    // The camera must not stay on after the exercise is gone.
    if (running_ && gazeTracker_) {
        gazeTracker_->stop();
    }
}

std::vector<EyeExerciseController::Stop> EyeExerciseController::generateStops() {
    std::vector<Stop> stops;
    const auto pattern = [&stops](const char* label, std::initializer_list<GazePoint> points) {
        for (const GazePoint& point : points) {
            stops.push_back({point, label});
        }
    };
    pattern("Horizontal", {{-1, 0}, {1, 0}, {-1, 0}, {1, 0}});
    pattern("Vertical", {{0, -1}, {0, 1}, {0, -1}, {0, 1}});
    pattern("Clockwise", {{1, 0}, {0, -1}, {-1, 0}, {0, 1}});
    pattern("Counterclockwise", {{1, 0}, {0, 1}, {-1, 0}, {0, -1}});
    pattern("Figure eight", {{0, 0}, {1, 0}, {0, 0}, {-1, 0}});
    pattern("Diagonal", {{-1, 1}, {1, -1}, {1, 1}, {-1, -1}});
    return stops;
}

QPoint EyeExerciseController::stopCentre(const QRect& frame, GazePoint point) {
    const double width = std::max(frame.width() - 340, 200);
    const double height = std::max(frame.height() - 140, 120);
    const double left = frame.left() + 170;
    // 70 above the bottom edge, counted upwards as the direction space does.
    const double top = frame.top() + frame.height() - 70 - height;
    const double x = left + width / 2 + width / 2 * point.x;
    const double y = top + height / 2 - height / 2 * point.y;
    return {static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y))};
}

void EyeExerciseController::start() {
    if (running_) {
        return;
    }
    running_ = true;
    hits_ = 0;
    gazeOnTargetSince_.reset();
    currentMascotDirection_.reset();
    if (coordinator_) {
        coordinator_->suspend();
    }
    if (mascot_) {
        mascot_->beginExercise();
    }
    if (store_.gazeAutoHit() && gazeTracker_) {
        gazeTracker_->start();
    }
    run();
}

void EyeExerciseController::run() {
    stops_ = generateStops();
    totalStops_ = static_cast<int>(stops_.size());
    startedAt_ = clock_->now();
    stopIndex_ = 0;
    teleport(stopIndex_);
}

void EyeExerciseController::teleport(std::size_t index) {
    const std::optional<QRect> frame = placing_ ? placing_->mainScreenFrame() : std::nullopt;
    if (!frame) {
        // Nowhere to show the stop: it passes at once.
        nextStop();
        return;
    }
    const Stop& stop = stops_[index];
    placing_->placePanelCentre(stopCentre(*frame, stop.point));
    currentMascotDirection_ = stop.point;
    gazeOnTargetSince_.reset();
    const auto remaining =
        std::max<long long>(static_cast<long long>(totalDuration - (clock_->now() - startedAt_)), 0);
    if (mascot_) {
        mascot_->set(MascotState::exercising("Look here · " + stop.label + " · " + std::to_string(hits_) +
                                             " hit · " + std::to_string(remaining) + "s left"));
    }
    const quint64 token = ++nextToken_;
    pendingContinuation_ = token;
    clock_->after(dwellSeconds, this, [this, token] {
        if (pendingContinuation_ == token) {
            pendingContinuation_ = 0;
            nextStop();
        }
    });
}

void EyeExerciseController::nextStop() {
    // Stops without a screen pass in this loop rather than by recursion.
    while (running_ && ++stopIndex_ < stops_.size()) {
        teleport(stopIndex_);
        if (pendingContinuation_ != 0) {
            return;
        }
    }
    if (!running_) {
        return;
    }
    if (mascot_) {
        mascot_->set(MascotState::happy());
    }
    const quint64 token = ++nextToken_;
    clock_->after(celebrationSeconds, this, [this, token] {
        // Only the run that scheduled it ends here.
        if (token == nextToken_) {
            finishIfNeeded();
        }
    });
}

void EyeExerciseController::registerHit() {
    if (!running_) {
        return;
    }
    ++hits_;
    gazeOnTargetSince_.reset();
    if (pendingContinuation_ != 0) {
        pendingContinuation_ = 0;
        nextStop();
    }
}

void EyeExerciseController::processGaze(GazePoint g) {
    if (!running_ || !currentMascotDirection_) {
        return;
    }
    if (!isGazeOnTarget(*currentMascotDirection_, g)) {
        gazeOnTargetSince_.reset();
        return;
    }
    const double now = clock_->now();
    if (!gazeOnTargetSince_) {
        gazeOnTargetSince_ = now;
    } else if (now - *gazeOnTargetSince_ >= dwellGazeSeconds) {
        gazeOnTargetSince_.reset();
        registerHit();
    }
}

void EyeExerciseController::finishIfNeeded() {
    if (!running_) {
        return;
    }
    running_ = false;
    pendingContinuation_ = 0;
    if (gazeTracker_) {
        gazeTracker_->stop();
    }
    currentMascotDirection_.reset();
    gazeOnTargetSince_.reset();
    if (mascot_) {
        mascot_->set(MascotState::pacing());
    }
    if (placing_) {
        placing_->returnToHomeCorner();
    }
    if (coordinator_) {
        coordinator_->resume();
    }
}

} // namespace perchwell
