#pragma once

#include "platform/gaze_camera.h"
#include "platform/linux/face_landmark_detector.h"

#include <opencv2/videoio.hpp>
#include <string>

namespace perchwell {

// Captures 640 x 480 frames from the first video device that opens (V4L2) and finds
// the face's eyes in each.
class OpenCvGazeCamera final : public GazeCamera {
public:
    explicit OpenCvGazeCamera(std::string deviceDirectory = "/dev",
                              std::string cascadeDirectory = FaceLandmarkDetector::defaultCascadeDirectory());
    ~OpenCvGazeCamera() override;

    Result<void> open() override;
    Result<std::optional<FaceLandmarks>> nextLandmarks() override;
    void close() override;

private:
    std::string deviceDirectory_;
    std::string cascadeDirectory_;
    std::optional<FaceLandmarkDetector> detector_;
    cv::VideoCapture capture_;
    cv::Mat frame_;
};

} // namespace perchwell
