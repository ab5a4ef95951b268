#pragma once

#include "companion/exercise_clock.h"
#include "companion/gaze_direction.h"

#include <QObject>
#include <QPointer>
#include <QRect>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace perchwell {

class Coordinator;
class GazeTracker;
class MascotControlling;
class MascotPlacing;
class SettingsStore;

// The one-minute eye break: the mascot jumps to 24 stops across the main screen in six
// patterns and the user follows it with the eyes. A stop ends after 2.5 s or earlier
// on a hit (a click on the mascot, or half a second of gaze in its direction when
// `gazeAutoHit` is on and the camera works). The watcher is suspended during the run.
// Main thread only. The mascot must outlive this object (the delegate destroys it first).
class EyeExerciseController : public QObject {
    Q_OBJECT
public:
    struct Stop {
        GazePoint point;
        std::string label;
    };

    static constexpr double totalDuration = 60;
    static constexpr double dwellSeconds = 2.5;
    static constexpr double dwellGazeSeconds = 0.5;
    static constexpr double celebrationSeconds = 1.2;

    // `gazeTracker` and `coordinator` may be null; `clock` null means the system clock.
    EyeExerciseController(MascotControlling* mascot, MascotPlacing* placing, Coordinator* coordinator,
                          GazeTracker* gazeTracker, SettingsStore& store,
                          std::shared_ptr<ExerciseClock> clock = nullptr, QObject* parent = nullptr);
    ~EyeExerciseController() override;

    void start();
    void registerHit();
    // Fed with every smoothed gaze value of the tracker.
    void processGaze(GazePoint g);

    bool running() const { return running_; }
    int hits() const { return hits_; }
    int totalStops() const { return totalStops_; }
    std::optional<GazePoint> currentMascotDirection() const { return currentMascotDirection_; }

    static std::vector<Stop> generateStops();
    // Where the panel's centre goes for a stop: the visible frame inset by 170 at the
    // sides and 70 at top and bottom (at least 200 x 120), y up in direction space.
    static QPoint stopCentre(const QRect& visibleFrame, GazePoint point);

private:
    void run();
    void teleport(std::size_t index);
    void nextStop();
    void finishIfNeeded();

    MascotControlling* mascot_;
    MascotPlacing* placing_;
    QPointer<Coordinator> coordinator_;
    QPointer<GazeTracker> gazeTracker_;
    SettingsStore& store_;
    std::shared_ptr<ExerciseClock> clock_;

    bool running_ = false;
    int hits_ = 0;
    int totalStops_ = 0;
    std::vector<Stop> stops_;
    std::size_t stopIndex_ = 0;
    double startedAt_ = 0;
    // The wait of the current stop; 0 when none is pending. A dwell timer resumes only
    // the wait it was started for, never a later stop's.
    quint64 pendingContinuation_ = 0;
    quint64 nextToken_ = 0;
    std::optional<GazePoint> currentMascotDirection_;
    std::optional<double> gazeOnTargetSince_;
};

} // namespace perchwell
