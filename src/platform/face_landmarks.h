#pragma once

#include <vector>

namespace perchwell {

// A point in normalised image coordinates (0..1, origin bottom-left), or a direction
// in the eye break's direction space (-1..1, x to the right, y up).
struct GazePoint {
    double x = 0;
    double y = 0;
    bool operator==(const GazePoint&) const = default;
};

// What a face detector found of one face: each eye's outline and its pupil, in
// normalised image coordinates. An empty outline or pupil means not found.
struct FaceLandmarks {
    std::vector<GazePoint> leftEye;
    std::vector<GazePoint> rightEye;
    std::vector<GazePoint> leftPupil;
    std::vector<GazePoint> rightPupil;
};

} // namespace perchwell
