#pragma once

#include "companion/exercise_clock.h"
#include "companion/mascot_controlling.h"
#include "companion/mascot_placing.h"
#include "platform/gaze_camera.h"

#include <QPointer>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace perchwell::testing {

// A clock the test moves forward; due actions run in order of their time.
class FakeExerciseClock final : public ExerciseClock {
public:
    double now() const override { return now_; }
    void after(double seconds, QObject* context, std::function<void()> action) override {
        pending_.emplace(std::pair{now_ + seconds, sequence_++},
                         Pending{QPointer<QObject>(context), std::move(action)});
    }
    // Moves to `now() + seconds`, running every action due on the way.
    void advance(double seconds) {
        const double target = now_ + seconds;
        while (!pending_.empty() && pending_.begin()->first.first <= target + 1e-9) {
            auto node = pending_.extract(pending_.begin());
            now_ = std::max(now_, node.key().first);
            if (node.mapped().context) {
                node.mapped().action();
            }
        }
        now_ = target;
    }

private:
    struct Pending {
        QPointer<QObject> context;
        std::function<void()> action;
    };
    double now_ = 1000;
    long sequence_ = 0;
    std::map<std::pair<double, long>, Pending> pending_;
};

// A mascot that records what it shows and where it goes, with the time of each state.
class StageMascot final : public MascotControlling, public MascotPlacing {
public:
    explicit StageMascot(const ExerciseClock& clock) : clock_(clock) {}

    void show() override {}
    void hide() override {}
    void set(const MascotState& state) override {
        current = state;
        states.push_back({clock_.now(), state});
    }
    MascotState state() const override { return current; }
    void beginExercise() override { ++exercisesBegun; }

    std::optional<QRect> mainScreenFrame() const override { return screen; }
    void placePanelCentre(QPoint centre) override { placements.push_back(centre); }
    void returnToHomeCorner() override { ++returnsHome; }

    struct Shown {
        double at;
        MascotState state;
    };
    MascotState current = MascotState::pacing();
    std::vector<Shown> states;
    std::vector<QPoint> placements;
    std::optional<QRect> screen = QRect(0, 0, 1920, 1080);
    int exercisesBegun = 0;
    int returnsHome = 0;

private:
    const ExerciseClock& clock_;
};

// A camera that plays a script of analysed frames, then repeats the last one. Its
// counters are read by the test thread while the capture thread runs.
class ScriptedGazeCamera final : public GazeCamera {
public:
    struct Counters {
        std::atomic<int> opened{0};
        std::atomic<int> closed{0};
    };
    ScriptedGazeCamera(std::shared_ptr<Counters> counters, std::vector<std::optional<FaceLandmarks>> script,
                       std::optional<std::string> openError = std::nullopt)
        : counters_(std::move(counters)), script_(std::move(script)), openError_(std::move(openError)) {}

    Result<void> open() override {
        ++counters_->opened;
        if (openError_) {
            return Error{*openError_};
        }
        return {};
    }
    Result<std::optional<FaceLandmarks>> nextLandmarks() override {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (next_ + 1 < script_.size()) {
            return script_[next_++];
        }
        if (script_.empty()) {
            return std::optional<FaceLandmarks>();
        }
        return script_.back();
    }
    void close() override { ++counters_->closed; }

private:
    std::shared_ptr<Counters> counters_;
    std::vector<std::optional<FaceLandmarks>> script_;
    std::optional<std::string> openError_;
    std::size_t next_ = 0;
};

} // namespace perchwell::testing
