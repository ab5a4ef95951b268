#include "companion/gaze_direction.h"

#include <algorithm>
#include <cmath>

namespace perchwell {

std::optional<GazePoint> pupilOffset(const std::vector<GazePoint>& eyeOutline, GazePoint pupil) {
    if (eyeOutline.empty()) {
        return std::nullopt;
    }
    auto [minX, maxX] = std::minmax_element(eyeOutline.begin(), eyeOutline.end(),
                                            [](const GazePoint& a, const GazePoint& b) { return a.x < b.x; });
    auto [minY, maxY] = std::minmax_element(eyeOutline.begin(), eyeOutline.end(),
                                            [](const GazePoint& a, const GazePoint& b) { return a.y < b.y; });
    const double w = (maxX->x - minX->x) / 2;
    const double h = (maxY->y - minY->y) / 2;
    if (w <= 0.0001 || h <= 0.0001) {
        return std::nullopt;
    }
    const double centreX = minX->x + w;
    const double centreY = minY->y + h;
    return GazePoint{(pupil.x - centreX) / w, (pupil.y - centreY) / h};
}

std::optional<GazePoint> computeGazeDirection(const FaceLandmarks& landmarks) {
    if (landmarks.leftEye.empty() || landmarks.rightEye.empty() || landmarks.leftPupil.empty() ||
        landmarks.rightPupil.empty()) {
        return std::nullopt;
    }
    const auto left = pupilOffset(landmarks.leftEye, landmarks.leftPupil.front());
    const auto right = pupilOffset(landmarks.rightEye, landmarks.rightPupil.front());
    if (!left || !right) {
        return std::nullopt;
    }
    const double x = -(left->x + right->x) / 2 * gazeGain;
    const double y = (left->y + right->y) / 2 * gazeGain;
    return GazePoint{std::clamp(x, -1.0, 1.0), std::clamp(y, -1.0, 1.0)};
}

bool isGazeOnTarget(GazePoint m, GazePoint g) {
    const double mLength = std::hypot(m.x, m.y);
    const double gLength = std::hypot(g.x, g.y);
    if (mLength < 0.25) {
        return gLength < 0.35;
    }
    if (gLength < 0.15) {
        return false;
    }
    return (m.x * g.x + m.y * g.y) / (mLength * gLength) > 0.4;
}

GazePoint GazeSmoothing::apply(GazePoint raw) {
    if (!hasSample) {
        smoothedX = raw.x;
        smoothedY = raw.y;
        hasSample = true;
    } else {
        smoothedX = smoothingAlpha * raw.x + (1 - smoothingAlpha) * smoothedX;
        smoothedY = smoothingAlpha * raw.y + (1 - smoothingAlpha) * smoothedY;
    }
    return {smoothedX, smoothedY};
}

void GazeSmoothing::reset() {
    smoothedX = 0;
    smoothedY = 0;
    hasSample = false;
}

} // namespace perchwell
