#pragma once

#include "common/result.h"
#include "platform/face_landmarks.h"

#include <memory>
#include <optional>

namespace perchwell {

// A camera that turns each frame into the landmarks of the largest face. Backends:
// V4L2 with OpenCV's cascades (when built with OpenCV), one that always fails to
// open, and test doubles. Used from one thread at a time.
class GazeCamera {
public:
    virtual ~GazeCamera() = default;
    // Starts capturing; the error carries the user-facing text.
    virtual Result<void> open() = 0;
    // Waits for the next frame and analyses it: nothing when the frame shows no face
    // or its eyes cannot be found; an error when the camera stopped delivering.
    virtual Result<std::optional<FaceLandmarks>> nextLandmarks() = 0;
    // Releases the device (its light goes off). Safe to call when not open.
    virtual void close() = 0;
};

// The backend this build has.
std::unique_ptr<GazeCamera> makeSystemGazeCamera();

} // namespace perchwell
