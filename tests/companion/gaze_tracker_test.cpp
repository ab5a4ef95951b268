#include "companion/gaze_tracker.h"

#include "eye_break_fakes.h"
#include "support/permission_fakes.h"

#include <QCoreApplication>
#include <QTest>
#include <gtest/gtest.h>

namespace perchwell {
namespace {

using testing::ScriptedGazeCamera;

// Both eyes in a 0.2 x 0.1 box with the pupil at `offset` of the half sizes.
FaceLandmarks looking(GazePoint offset) {
    const std::vector<GazePoint> box = {{0.2, 0.4}, {0.4, 0.5}};
    const GazePoint pupil{0.3 + offset.x * 0.1, 0.45 + offset.y * 0.05};
    return {box, box, {pupil}, {pupil}};
}

struct Tracker {
    std::shared_ptr<testing::FakeCameraAccess> access = std::make_shared<testing::FakeCameraAccess>();
    std::shared_ptr<ScriptedGazeCamera::Counters> counters = std::make_shared<ScriptedGazeCamera::Counters>();
    std::vector<std::optional<FaceLandmarks>> script;
    std::optional<std::string> openError;
    GazeTracker tracker{access,
                        [this] { return std::make_unique<ScriptedGazeCamera>(counters, script, openError); }};
    std::vector<std::optional<GazePoint>> published;

    Tracker() {
        access->current = CameraAuthorization::authorized;
        QObject::connect(&tracker, &GazeTracker::gazeDirectionChanged,
                         [this](std::optional<GazePoint> direction) { published.push_back(direction); });
    }
};

TEST(GazeTrackerTest, RefusedCameraLeavesTheErrorTextAndNeverOpens) {
    struct Case {
        CameraAuthorization status;
        const char* error;
    };
    const Case cases[] = {
        {CameraAuthorization::notDetermined, "Camera access was denied."},
        {CameraAuthorization::restricted, "Camera access is restricted on this device."},
        {CameraAuthorization::denied, "Camera access is denied. Re-enable it in System Settings."},
        {static_cast<CameraAuthorization>(7), "Unknown camera authorization state."},
    };
    for (const Case& c : cases) {
        Tracker t;
        t.access->current = c.status;
        t.tracker.start();
        EXPECT_EQ(t.tracker.lastError(), c.error);
        EXPECT_FALSE(t.tracker.isActive());
        EXPECT_EQ(t.counters->opened, 0);
    }
}

TEST(GazeTrackerTest, ACameraThatFailsToOpenReportsItsText) {
    Tracker t;
    t.openError = "No front camera found.";
    t.tracker.start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return !t.tracker.lastError().isNull(); }, 5000));
    EXPECT_EQ(t.tracker.lastError(), "No front camera found.");
    EXPECT_FALSE(t.tracker.isActive());
    // The next start clears the old text.
    t.openError.reset();
    t.tracker.start();
    EXPECT_TRUE(t.tracker.lastError().isNull());
    t.tracker.stop();
}

TEST(GazeTrackerTest, FirstSampleUnsmoothedThenSmoothedAndCameraReleasedAtStop) {
    Tracker t;
    t.script = {looking({-0.2, 0}), looking({0.2, 0.1})};
    t.tracker.start();
    EXPECT_TRUE(t.tracker.isActive());
    ASSERT_TRUE(QTest::qWaitFor([&] { return t.published.size() >= 3; }, 5000));
    ASSERT_TRUE(t.published[0] && t.published[1]);
    EXPECT_NEAR(t.published[0]->x, 0.56, 1e-9); // raw: 0.2 x 2.8, sign flipped
    EXPECT_NEAR(t.published[0]->y, 0, 1e-9);
    EXPECT_NEAR(t.published[1]->x, 0.35 * -0.56 + 0.65 * 0.56, 1e-9);
    EXPECT_NEAR(t.published[1]->y, 0.35 * 0.28, 1e-9);
    EXPECT_EQ(t.counters->opened, 1);

    t.tracker.stop();
    // Released before stop() returns: the camera light is off.
    EXPECT_EQ(t.counters->closed, 1);
    EXPECT_FALSE(t.tracker.isActive());
    EXPECT_FALSE(t.tracker.gazeDirection());
    // Frames still queued from before the stop are dropped.
    const std::size_t seen = t.published.size();
    QCoreApplication::processEvents();
    EXPECT_EQ(t.published.size(), seen);

    // After a restart the first sample is taken as is again.
    t.published.clear();
    t.tracker.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !t.published.empty(); }, 5000));
    EXPECT_NEAR(t.published[0]->x, 0.56, 1e-9);
    t.tracker.stop();
    EXPECT_EQ(t.counters->closed, 2);
}

TEST(GazeTrackerTest, ALostFaceClearsTheGazeAndTheNextFaceStartsUnsmoothed) {
    Tracker t;
    t.script = {looking({0.1, 0}), std::nullopt, looking({-0.1, 0})};
    t.tracker.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return t.published.size() >= 3; }, 5000));
    t.tracker.stop();
    ASSERT_TRUE(t.published[0]);
    EXPECT_FALSE(t.published[1]);
    ASSERT_TRUE(t.published[2]);
    EXPECT_NEAR(t.published[2]->x, 0.28, 1e-9);
}

TEST(GazeTrackerTest, CameraStatusLaunchLine) {
    EXPECT_EQ(GazeTracker::cameraStatusLine(CameraAuthorization::authorized),
              "[Perchwell] launch: camera authorization status = 3 (0=notDetermined, 1=restricted, 2=denied, "
              "3=authorized)");
    EXPECT_NE(GazeTracker::cameraStatusLine(CameraAuthorization::restricted).find("status = 1 ("),
              std::string::npos);
}

} // namespace
} // namespace perchwell
