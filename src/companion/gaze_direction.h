#pragma once

#include "platform/face_landmarks.h"

#include <optional>
#include <vector>

namespace perchwell {

// From pupil offset (fractions of the eye's half size) to screen direction.
inline constexpr double gazeGain = 2.8;

// Where the pupil sits in the outline's bounding box, as fractions of its half width
// and half height from the centre; nothing for a degenerate box.
std::optional<GazePoint> pupilOffset(const std::vector<GazePoint>& eyeOutline, GazePoint pupil);

// The direction both eyes look in (direction space, clamped to [-1, 1]); nothing when
// an eye or pupil is missing. The camera sees the user mirrored, so x changes sign.
std::optional<GazePoint> computeGazeDirection(const FaceLandmarks& landmarks);

// Whether a gaze `g` counts as looking at a stop in direction `m`: for the centre stop
// a small gaze; for the others one that is not too small and points roughly the same
// way (cosine above 0.4).
bool isGazeOnTarget(GazePoint m, GazePoint g);

// Exponential smoothing of the raw gaze; the first sample after a reset is taken as is.
struct GazeSmoothing {
    double smoothingAlpha = 0.35;
    double smoothedX = 0;
    double smoothedY = 0;
    bool hasSample = false;

    GazePoint apply(GazePoint raw);
    void reset();
};

} // namespace perchwell
