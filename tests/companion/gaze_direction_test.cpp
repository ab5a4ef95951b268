#include "companion/gaze_direction.h"

#include <gtest/gtest.h>

namespace perchwell {
namespace {

// An eye box from (0.2, 0.4) to (0.4, 0.5): half width 0.1, half height 0.05.
const std::vector<GazePoint> eyeBox = {{0.2, 0.4}, {0.4, 0.4}, {0.4, 0.5}, {0.2, 0.5}};

// Both eyes with the pupil at `offset` (fractions of the half sizes) from the centre.
FaceLandmarks lookingWith(GazePoint offset) {
    const GazePoint pupil{0.3 + offset.x * 0.1, 0.45 + offset.y * 0.05};
    return {eyeBox, eyeBox, {pupil}, {pupil}};
}

TEST(GazeDirectionTest, PupilOffsetIsAFractionOfTheHalfBox) {
    struct Case {
        std::vector<GazePoint> outline;
        GazePoint pupil;
        std::optional<GazePoint> expected;
    };
    const Case cases[] = {
        {eyeBox, {0.3, 0.45}, GazePoint{0, 0}},
        {eyeBox, {0.4, 0.45}, GazePoint{1, 0}},
        {eyeBox, {0.25, 0.5}, GazePoint{-0.5, 1}},
        {{{0.2, 0.4}, {0.20005, 0.5}}, {0.2, 0.45}, std::nullopt}, // no width
        {{{0.2, 0.4}, {0.4, 0.40005}}, {0.3, 0.4}, std::nullopt},  // no height
        {{}, {0.3, 0.45}, std::nullopt},
    };
    for (const Case& c : cases) {
        const auto offset = pupilOffset(c.outline, c.pupil);
        ASSERT_EQ(offset.has_value(), c.expected.has_value());
        if (offset) {
            EXPECT_NEAR(offset->x, c.expected->x, 1e-9);
            EXPECT_NEAR(offset->y, c.expected->y, 1e-9);
        }
    }
}

TEST(GazeDirectionTest, DirectionFlipsXAppliesTheGainAndClamps) {
    struct Case {
        GazePoint offset;
        GazePoint expected;
    };
    const Case cases[] = {
        {{0, 0}, {0, 0}},
        {{0.1, 0}, {-0.28, 0}}, // the camera sees the user mirrored
        {{-0.2, 0.1}, {0.56, 0.28}},
        {{0.5, -0.5}, {-1, -1}}, // clamped
        {{-0.9, 0.9}, {1, 1}},
    };
    for (const Case& c : cases) {
        const auto direction = computeGazeDirection(lookingWith(c.offset));
        ASSERT_TRUE(direction);
        EXPECT_NEAR(direction->x, c.expected.x, 1e-9);
        EXPECT_NEAR(direction->y, c.expected.y, 1e-9);
    }
}

TEST(GazeDirectionTest, NoDirectionWithoutBothEyesAndPupils) {
    FaceLandmarks noPupil = lookingWith({0, 0});
    noPupil.rightPupil.clear();
    FaceLandmarks noEye = lookingWith({0, 0});
    noEye.leftEye.clear();
    FaceLandmarks flatEye = lookingWith({0, 0});
    flatEye.leftEye = {{0.2, 0.4}, {0.4, 0.4}};
    for (const FaceLandmarks& landmarks : {noPupil, noEye, flatEye, FaceLandmarks{}}) {
        EXPECT_FALSE(computeGazeDirection(landmarks));
    }
}

TEST(GazeDirectionTest, OnTargetRulesForCentreAndEdgeStops) {
    struct Case {
        GazePoint stop;
        GazePoint gaze;
        bool onTarget;
    };
    const Case cases[] = {
        // The centre stop: looking straight at the screen counts.
        {{0, 0}, {0, 0}, true},
        {{0, 0}, {0.3, 0.1}, true},
        {{0, 0}, {0.35, 0}, false},
        {{0.2, 0.1}, {0.2, 0}, true}, // |m| below 0.25 is a centre stop too
        // Edge stops: roughly the same way and not too small.
        {{1, 0}, {0.5, 0.1}, true},
        {{1, 0}, {0.15, 0}, true},
        {{1, 0}, {0.14, 0}, false},
        {{1, 0}, {0.3, 0.6}, true},   // cosine 0.447
        {{1, 0}, {0.3, 0.75}, false}, // cosine 0.371
        {{1, 0}, {-0.8, 0}, false},
        {{0, 1}, {0.9, 0}, false},
        {{-1, 1}, {-0.5, 0.4}, true},
        {{-1, -1}, {0.6, 0.6}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(isGazeOnTarget(c.stop, c.gaze), c.onTarget)
            << "stop (" << c.stop.x << ", " << c.stop.y << ") gaze (" << c.gaze.x << ", " << c.gaze.y << ")";
    }
}

TEST(GazeDirectionTest, FirstSampleAfterAResetIsTakenUnsmoothed) {
    GazeSmoothing smoothing;
    EXPECT_EQ(smoothing.apply({0.8, -0.4}), (GazePoint{0.8, -0.4}));
    const GazePoint second = smoothing.apply({0, 0.6});
    EXPECT_NEAR(second.x, 0.65 * 0.8, 1e-12);
    EXPECT_NEAR(second.y, 0.35 * 0.6 - 0.65 * 0.4, 1e-12);
    smoothing.reset();
    EXPECT_EQ(smoothing.apply({-0.2, 0.1}), (GazePoint{-0.2, 0.1}));
}

} // namespace
} // namespace perchwell
