#include "platform/gaze_camera.h"

namespace perchwell {

namespace {

// Built without OpenCV: there is nothing to find faces with, so the eye break counts
// clicks only.
class UnavailableGazeCamera final : public GazeCamera {
public:
    Result<void> open() override {
        return Error{"Camera initialization failed: this build of Perchwell has no face tracking (OpenCV)."};
    }
    Result<std::optional<FaceLandmarks>> nextLandmarks() override { return Error{"The camera is not open."}; }
    void close() override {}
};

} // namespace

std::unique_ptr<GazeCamera> makeSystemGazeCamera() {
    return std::make_unique<UnavailableGazeCamera>();
}

} // namespace perchwell
