#include "companion/eye_exercise_controller.h"

#include "companion/gaze_tracker.h"
#include "eye_break_fakes.h"
#include "state/coordinator.h"
#include "support/permission_fakes.h"
#include "support/store_fixture.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::FakeExerciseClock;
using testing::StageMascot;

struct EyeBreak {
    testing::StoreFixture fixture;
    std::shared_ptr<FakeExerciseClock> clock = std::make_shared<FakeExerciseClock>();
    StageMascot mascot{*clock};
    Coordinator coordinator{fixture.store, &mascot};
    std::shared_ptr<testing::FakeCameraAccess> access = std::make_shared<testing::FakeCameraAccess>();
    std::shared_ptr<testing::ScriptedGazeCamera::Counters> cameras =
        std::make_shared<testing::ScriptedGazeCamera::Counters>();
    GazeTracker tracker{access, [this] {
                            return std::make_unique<testing::ScriptedGazeCamera>(
                                cameras, std::vector<std::optional<FaceLandmarks>>{});
                        }};
    EyeExerciseController controller{&mascot, &mascot, &coordinator, &tracker, fixture.store, clock};

    EyeBreak() { access->current = CameraAuthorization::denied; }

    // Steps the clock until the run ends; the time it took.
    double runToEnd(double step = 0.05) {
        const double begin = clock->now();
        while (controller.running() && clock->now() - begin < 120) {
            clock->advance(step);
        }
        return clock->now() - begin;
    }
    std::vector<std::string> summaries() const {
        std::vector<std::string> texts;
        for (const auto& shown : mascot.states) {
            if (shown.state.kind == MascotState::Kind::exercising) {
                texts.push_back(shown.state.text);
            }
        }
        return texts;
    }
    double timeOf(MascotState::Kind kind) const {
        for (const auto& shown : mascot.states) {
            if (shown.state.kind == kind) {
                return shown.at;
            }
        }
        return -1;
    }
};

TEST(EyeExerciseControllerTest, WithoutHitsTwentyFourStopsLastSixtyPointTwoSeconds) {
    EyeBreak eyeBreak;
    const double begin = eyeBreak.clock->now();
    eyeBreak.controller.start();
    EXPECT_EQ(eyeBreak.coordinator.suspendCount(), 1);
    EXPECT_EQ(eyeBreak.mascot.exercisesBegun, 1);
    // The camera is refused: the exercise runs on clicks alone.
    EXPECT_EQ(eyeBreak.tracker.lastError(), "Camera access is denied. Re-enable it in System Settings.");
    EXPECT_FALSE(eyeBreak.tracker.isActive());

    eyeBreak.runToEnd(0.1);
    const auto summaries = eyeBreak.summaries();
    ASSERT_EQ(summaries.size(), 24u);
    EXPECT_EQ(eyeBreak.controller.totalStops(), 24);
    EXPECT_EQ(summaries.front(), "Look here · Horizontal · 0 hit · 60s left");
    EXPECT_EQ(summaries[4], "Look here · Vertical · 0 hit · 50s left");
    EXPECT_EQ(summaries[16], "Look here · Figure eight · 0 hit · 20s left");
    EXPECT_EQ(summaries.back(), "Look here · Diagonal · 0 hit · 2s left");
    EXPECT_NEAR(eyeBreak.timeOf(MascotState::Kind::happy) - begin, 60.0, 1e-6);
    EXPECT_NEAR(eyeBreak.mascot.states.back().at - begin, 61.2, 1e-6);
    EXPECT_EQ(eyeBreak.controller.hits(), 0);

    // Back home, the watcher resumed and showing its own state.
    EXPECT_EQ(eyeBreak.mascot.returnsHome, 1);
    EXPECT_EQ(eyeBreak.coordinator.suspendCount(), 0);
    EXPECT_EQ(eyeBreak.mascot.current, MascotState::pacing());
    EXPECT_FALSE(eyeBreak.controller.currentMascotDirection());

    // The stops, in order, across the inset screen area.
    const auto stops = EyeExerciseController::generateStops();
    ASSERT_EQ(eyeBreak.mascot.placements.size(), stops.size());
    for (std::size_t i = 0; i < stops.size(); ++i) {
        EXPECT_EQ(eyeBreak.mascot.placements[i],
                  EyeExerciseController::stopCentre(QRect(0, 0, 1920, 1080), stops[i].point));
    }
}

TEST(EyeExerciseControllerTest, ClickingEveryStopEndsInSecondsWithTwentyFourHits) {
    EyeBreak eyeBreak;
    eyeBreak.fixture.store.setGazeAutoHit(false);
    eyeBreak.controller.start();
    for (int i = 0; i < 24; ++i) {
        eyeBreak.clock->advance(0.25);
        eyeBreak.controller.registerHit();
    }
    EXPECT_EQ(eyeBreak.mascot.current, MascotState::happy());
    const double took = 24 * 0.25 + eyeBreak.runToEnd();
    EXPECT_LT(took, 8.0);
    EXPECT_EQ(eyeBreak.controller.hits(), 24);
    EXPECT_EQ(eyeBreak.summaries()[5], "Look here · Vertical · 5 hit · 58s left");
    EXPECT_EQ(eyeBreak.coordinator.suspendCount(), 0);
    // Clicks after the run are ordinary again.
    eyeBreak.controller.registerHit();
    EXPECT_EQ(eyeBreak.controller.hits(), 24);
    // Without gazeAutoHit the tracker was never asked.
    EXPECT_TRUE(eyeBreak.tracker.lastError().isNull());
}

TEST(EyeExerciseControllerTest, StartWhileRunningDoesNothing) {
    EyeBreak eyeBreak;
    eyeBreak.controller.start();
    eyeBreak.clock->advance(1.0);
    eyeBreak.controller.start();
    EXPECT_EQ(eyeBreak.coordinator.suspendCount(), 1);
    EXPECT_EQ(eyeBreak.mascot.exercisesBegun, 1);
    EXPECT_EQ(eyeBreak.mascot.placements.size(), 1u);
    eyeBreak.runToEnd();
    EXPECT_EQ(eyeBreak.coordinator.suspendCount(), 0);
    // A new run after the end starts afresh.
    eyeBreak.controller.start();
    EXPECT_TRUE(eyeBreak.controller.running());
    EXPECT_EQ(eyeBreak.controller.hits(), 0);
}

TEST(EyeExerciseControllerTest, AnEarlierStopsDwellTimerDoesNotCutTheNextStopShort) {
    EyeBreak eyeBreak;
    eyeBreak.controller.start();
    eyeBreak.clock->advance(2.4);
    eyeBreak.controller.registerHit(); // stop 2 begins at 2.4 s
    eyeBreak.clock->advance(0.2);      // stop 1's 2.5 s pass
    EXPECT_EQ(eyeBreak.mascot.placements.size(), 2u);
    eyeBreak.clock->advance(2.2);
    EXPECT_EQ(eyeBreak.mascot.placements.size(), 2u);
    eyeBreak.clock->advance(0.15); // 2.5 s after stop 2 began
    EXPECT_EQ(eyeBreak.mascot.placements.size(), 3u);
}

TEST(EyeExerciseControllerTest, HalfASecondOfGazeOnTheStopIsAHit) {
    EyeBreak eyeBreak;
    eyeBreak.controller.start(); // first stop: the left edge
    struct Step {
        double after;
        GazePoint gaze;
        int hits;
    };
    const Step steps[] = {
        {0.0, {-0.6, 0.1}, 0},   {0.25, {-0.7, 0.0}, 0}, // on target since 0.0
        {0.125, {0.5, 0.0}, 0},                          // looks away: starts over
        {0.125, {-0.6, 0.1}, 0}, {0.25, {-0.6, 0.1}, 0}, {0.25, {-0.6, 0.1}, 1},
    };
    for (const Step& step : steps) {
        eyeBreak.clock->advance(step.after);
        // As the tracker publishes it; a lost face (none) is ignored.
        emit eyeBreak.tracker.gazeDirectionChanged(std::nullopt);
        emit eyeBreak.tracker.gazeDirectionChanged(step.gaze);
        EXPECT_EQ(eyeBreak.controller.hits(), step.hits);
    }
    // The hit moved on to the right edge at once.
    ASSERT_TRUE(eyeBreak.controller.currentMascotDirection());
    EXPECT_EQ(*eyeBreak.controller.currentMascotDirection(), (GazePoint{1, 0}));
}

TEST(EyeExerciseControllerTest, WithoutAScreenTheStopsPassAtOnce) {
    EyeBreak eyeBreak;
    eyeBreak.mascot.screen.reset();
    eyeBreak.controller.start();
    EXPECT_TRUE(eyeBreak.summaries().empty());
    EXPECT_EQ(eyeBreak.mascot.current, MascotState::happy());
    EXPECT_NEAR(eyeBreak.runToEnd(), 1.2, 0.06);
    EXPECT_EQ(eyeBreak.coordinator.suspendCount(), 0);
}

TEST(EyeExerciseControllerTest, StopCentresInTheInsetArea) {
    struct Case {
        QRect frame;
        GazePoint point;
        QPoint centre;
    };
    const Case cases[] = {
        {{0, 0, 1920, 1080}, {-1, 0}, {170, 540}},
        {{0, 0, 1920, 1080}, {1, 1}, {1750, 70}}, // y up: the top edge
        {{0, 0, 1920, 1080}, {0, -1}, {960, 1010}},
        {{1920, 30, 1280, 770}, {0, 0}, {2560, 415}},
        // Too small to inset: at least 200 x 120, kept 70 above the bottom.
        {{0, 0, 300, 200}, {0, 0}, {270, 70}},
        {{0, 0, 300, 200}, {1, 1}, {370, 10}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EyeExerciseController::stopCentre(c.frame, c.point), c.centre);
    }
}

} // namespace
} // namespace perchwell
